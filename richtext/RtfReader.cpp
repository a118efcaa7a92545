#include "richtext/RtfReader.h"

#include <QColor>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QLocale>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>
#include <algorithm>
#include <climits>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "richtext/RtfShared.h"

namespace tallimer {
namespace {

using namespace rtf;

// Groups deeper than this share the deepest state; no real document nests that far.
constexpr std::size_t kMaxDepth = 1024;
constexpr qsizetype kMaxFonts = 4096;
constexpr int kMaxColors = 4096;
constexpr qsizetype kMaxFontName = 256;
constexpr std::size_t kMaxWord = 32;
constexpr long long kParamLimit = 10'000'000'000LL;

enum class Dest : unsigned char { Text, Skip, FontTable, ColorTable, Info, Title, Author };
constexpr qsizetype kMaxInfoText = 1024;

// clang-format off
enum class Kw : unsigned char {
    Unknown, SkipDest, Char, Ansi, Mac, Pc, Ansicpg, Deff, Fonttbl, Colortbl, F, Fcharset, Cpg,
    Red, Green, Blue, Par, Page, Line, Tab, Cell, Pard, Plain, Ql, Qr, Qc, Qj, Li, Ri, Fi, Sb,
    Sa, Tx, Tqr, Tqc, Tqdec, Tb, Pagebb, B, I, Ul, Ulnone, Strike, Fs, Cf, U, Uc,
    Info, Title, Author, Paperw, Paperh, Margl, Margr, Margt, Margb, Landscape,
};
// clang-format on

struct KwInfo {
    Kw kw = Kw::Unknown;
    char16_t ch = 0;  // the character of a named symbol
};

std::vector<std::string_view> Words(std::string_view list) {
    std::vector<std::string_view> words;
    while (!list.empty()) {
        const std::size_t blank = std::min(list.find(' '), list.size());
        if (blank > 0) words.push_back(list.substr(0, blank));
        list.remove_prefix(std::min(blank + 1, list.size()));
    }
    return words;
}

const std::unordered_map<std::string_view, KwInfo>& Keywords() {
    static const std::unordered_map<std::string_view, KwInfo> table = [] {
        // clang-format off
        std::unordered_map<std::string_view, KwInfo> t = {
            {"ansi", {Kw::Ansi}}, {"mac", {Kw::Mac}}, {"pc", {Kw::Pc}}, {"pca", {Kw::Pc}},
            {"ansicpg", {Kw::Ansicpg}}, {"deff", {Kw::Deff}}, {"fonttbl", {Kw::Fonttbl}},
            {"colortbl", {Kw::Colortbl}}, {"f", {Kw::F}}, {"fcharset", {Kw::Fcharset}},
            {"cpg", {Kw::Cpg}}, {"red", {Kw::Red}}, {"green", {Kw::Green}}, {"blue", {Kw::Blue}},
            {"par", {Kw::Par}}, {"sect", {Kw::Par}}, {"row", {Kw::Par}}, {"page", {Kw::Page}},
            {"line", {Kw::Line}}, {"tab", {Kw::Tab}}, {"cell", {Kw::Cell}},
            {"nestcell", {Kw::Cell}}, {"pard", {Kw::Pard}}, {"plain", {Kw::Plain}},
            {"ql", {Kw::Ql}}, {"qr", {Kw::Qr}}, {"qc", {Kw::Qc}}, {"qj", {Kw::Qj}},
            {"li", {Kw::Li}}, {"ri", {Kw::Ri}}, {"fi", {Kw::Fi}}, {"sb", {Kw::Sb}},
            {"sa", {Kw::Sa}}, {"tx", {Kw::Tx}}, {"tqr", {Kw::Tqr}}, {"tqc", {Kw::Tqc}},
            {"tqdec", {Kw::Tqdec}}, {"tb", {Kw::Tb}}, {"pagebb", {Kw::Pagebb}},
            {"b", {Kw::B}}, {"i", {Kw::I}}, {"ulnone", {Kw::Ulnone}}, {"strike", {Kw::Strike}},
            {"striked", {Kw::Strike}}, {"fs", {Kw::Fs}}, {"cf", {Kw::Cf}}, {"u", {Kw::U}},
            {"uc", {Kw::Uc}}, {"info", {Kw::Info}}, {"title", {Kw::Title}},
            {"author", {Kw::Author}}, {"paperw", {Kw::Paperw}}, {"paperh", {Kw::Paperh}},
            {"margl", {Kw::Margl}}, {"margr", {Kw::Margr}}, {"margt", {Kw::Margt}},
            {"margb", {Kw::Margb}}, {"landscape", {Kw::Landscape}},
            {"emdash", {Kw::Char, 0x2014}}, {"endash", {Kw::Char, 0x2013}},
            {"lquote", {Kw::Char, 0x2018}}, {"rquote", {Kw::Char, 0x2019}},
            {"ldblquote", {Kw::Char, 0x201C}}, {"rdblquote", {Kw::Char, 0x201D}},
            {"bullet", {Kw::Char, 0x2022}}, {"enspace", {Kw::Char, 0x2002}},
            {"emspace", {Kw::Char, 0x2003}}, {"qmspace", {Kw::Char, 0x2005}},
            {"zwj", {Kw::Char, 0x200D}}, {"zwnj", {Kw::Char, 0x200C}}};
        // clang-format on
        // Every kind of underline is an underline here.
        for (const std::string_view u :
             Words("ul uld uldash uldashd uldashdd uldb ulhwave ulldash ulth ulthd ulthdash "
                   "ulthdashd ulthdashdd ulthldash ululdbwave ulw ulwave")) {
            t[u] = {Kw::Ul};
        }
        // Destinations whose text is not part of the body.
        for (const std::string_view d :
             Words("stylesheet pict header headerl headerr headerf footer footerl footerr "
                   "footerf fldinst footnote annotation atnid atnauthor objdata objclass objname "
                   "pn filetbl listtable listoverridetable revtbl rsidtbl pgdsctbl xe tc txe "
                   "nonshppict shp do ftnsep ftnsepc ftncn aftnsep aftnsepc aftncn template "
                   "xmlnstbl themedata colorschememapping latentstyles datastore datafield "
                   "generator userprops docvar bkmkstart bkmkend private")) {
            t[d] = {Kw::SkipDest};
        }
        return t;
    }();
    return table;
}

struct CharProps {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int font = -1;       // -1: the default font, left to the document
    int halfPoints = 0;  // 0: not given
    int color = 0;       // index in the colour table; 0 is "automatic"
    bool operator==(const CharProps&) const = default;
};

struct TabStop {
    int twips;
    QTextOption::TabType type;
    bool operator==(const TabStop&) const = default;
};

struct ParaProps {
    Qt::Alignment align = Qt::AlignLeft;
    int left = 0, right = 0, first = 0, before = 0, after = 0;
    bool pageBreakBefore = false;
    std::vector<TabStop> tabs;
    QTextOption::TabType nextTab = QTextOption::LeftTab;
};

struct State {
    Dest dest = Dest::Text;
    CharProps chars;
    ParaProps para;
    int uc = 1;  // fallback characters that follow a \uN
};

struct Font {
    QString name;
    int codepage = 0;  // 0: the document's
};

struct Token {
    enum Type { End, Word, Symbol, Hex } type = End;
    std::string_view name;
    bool hasParam = false;
    long long param = 0;
    unsigned char value = 0;  // the byte of \'hh, the character of a symbol
};

bool IsLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
int HexValue(unsigned char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
int ClampInt(long long v, int lo, int hi) {
    return static_cast<int>(std::clamp<long long>(v, lo, hi));
}

// Splits text into paragraphs where inserting it into a document would: at "\n", "\r",
// "\r\n", U+2029 and the frame marks.
class ParagraphSplitter {
  public:
    explicit ParagraphSplitter(const RtfParagraphSink& sink) : sink_(sink) {}
    void add(const QString& text) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            QChar c = text[i];
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') c = text[++i];
            if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar(0xFDD0) ||
                c == QChar(0xFDD1)) {
                next();
            } else {
                paragraph_ += c;
            }
        }
    }
    void next() {
        sink_(paragraph_);
        paragraph_.clear();
    }

  private:
    const RtfParagraphSink& sink_;
    QString paragraph_;
};

class Parser {
  public:
    Parser(QByteArrayView in, QTextDocument& doc) : Parser(in) { cursor_ = QTextCursor(&doc); }
    // Only the paragraphs' text, to the splitter: no document, no format.
    Parser(QByteArrayView in, ParagraphSplitter& paragraphs) : Parser(in) {
        paragraphs_ = &paragraphs;
    }

    // The page and information the header gave, once run() is over.
    PageSetup page() const {
        PageSetup p = page_;
        p.title = p.title.trimmed();
        p.author = p.author.trimmed();
        return p;
    }

    // Reads on until the deadline, checked every few hundred tokens; true at the end.
    bool run(const QDeadlineTimer& deadline) {
        for (unsigned n = 1; p_ < end_; ++n) {
            if (n % 512 == 0 && deadline.hasExpired()) return false;
            const auto c = static_cast<unsigned char>(*p_);
            if (skipChars_ > 0 && c != '{' && c != '}') {
                skipFallback();
                continue;
            }
            switch (c) {
                case '{':
                    ++p_, openGroup();
                    break;
                case '}':
                    ++p_, closeGroup();
                    break;
                case '\\':
                    ++p_, control(readControl());
                    break;
                case '\r':
                case '\n':
                case '\0':
                    ++p_;
                    break;
                default:
                    plainText();
                    break;
            }
        }
        finish();
        return true;
    }

  private:
    explicit Parser(QByteArrayView in) : p_(in.data()), end_(in.data() + in.size()) {
        stack_.emplace_back();
        const QString point = QLocale().decimalPoint();
        decimalPoint_ = point.isEmpty() ? QChar(',') : point.front();
    }

    State& top() { return stack_.back(); }

    void openGroup() {
        skipChars_ = 0;
        if (stack_.size() >= kMaxDepth) {
            ++overflow_;
            return;
        }
        State copy = stack_.back();
        stack_.push_back(std::move(copy));
    }

    void closeGroup() {
        skipChars_ = 0;
        if (overflow_ > 0) {
            --overflow_;
            return;
        }
        if (stack_.size() <= 1) return;  // a stray brace: read on
        if (top().dest == Dest::FontTable) commitFont();
        // An unterminated last paragraph takes the properties of the group that wrote it.
        if (blockHasText_ && stack_.size() == textDepth_) {
            lastPara_ = top().para;
            textDepth_ = 0;
        }
        stack_.pop_back();
    }

    Token readControl() {
        Token t;
        if (p_ >= end_) return t;
        const auto c = static_cast<unsigned char>(*p_);
        if (IsLetter(c)) {
            const char* begin = p_;
            while (p_ < end_ && IsLetter(static_cast<unsigned char>(*p_))) ++p_;
            t.type = Token::Word;
            t.name = std::string_view(begin, std::min<std::size_t>(p_ - begin, kMaxWord));
            bool negative = false;
            if (p_ + 1 < end_ && *p_ == '-' && IsDigit(static_cast<unsigned char>(p_[1]))) {
                negative = true;
                ++p_;
            }
            if (p_ < end_ && IsDigit(static_cast<unsigned char>(*p_))) {
                long long v = 0;
                for (; p_ < end_ && IsDigit(static_cast<unsigned char>(*p_)); ++p_) {
                    if (v < kParamLimit) v = v * 10 + (*p_ - '0');
                }
                v = std::min(v, kParamLimit);
                t.hasParam = true;
                t.param = negative ? -v : v;
            }
            if (p_ < end_ && *p_ == ' ') ++p_;
            if (t.name == "bin" && t.param > 0) {
                p_ += std::min<long long>(t.param, end_ - p_);
            }
            return t;
        }
        ++p_;
        if (c == '\'') {
            int value = 0, digits = 0;
            for (; digits < 2 && p_ < end_; ++digits, ++p_) {
                const int h = HexValue(static_cast<unsigned char>(*p_));
                if (h < 0) break;
                value = value * 16 + h;
            }
            if (digits == 0) return t;
            t.type = Token::Hex;
            t.value = static_cast<unsigned char>(value);
            return t;
        }
        t.type = Token::Symbol;
        t.value = c;
        return t;
    }

    // One character of the fallback text that follows \uN.
    void skipFallback() {
        const char c = *p_;
        if (c == '\\') {
            ++p_;
            readControl();
        } else {
            ++p_;
            if (c == '\r' || c == '\n') return;
        }
        --skipChars_;
    }

    void plainText() {
        const Dest dest = top().dest;
        if (dest == Dest::Skip) {
            while (p_ < end_ && *p_ != '\\' && *p_ != '{' && *p_ != '}') ++p_;
            return;
        }
        if (dest == Dest::Text) {
            const char* begin = p_;
            while (p_ < end_) {
                const auto c = static_cast<unsigned char>(*p_);
                if (c < 0x20 || c >= 0x7F || c == '\\' || c == '{' || c == '}') break;
                ++p_;
            }
            if (p_ > begin) {
                appendAscii(begin, p_ - begin);
                return;
            }
        }
        addByte(static_cast<unsigned char>(*p_++));
    }

    void control(const Token& t) {
        switch (t.type) {
            case Token::End:
                return;
            case Token::Hex:
                addByte(t.value);
                return;
            case Token::Symbol:
                symbol(t.value);
                return;
            case Token::Word:
                word(t);
                return;
        }
    }

    void symbol(unsigned char c) {
        switch (c) {
            case '\\':
            case '{':
            case '}':
                addChar(c);
                break;
            case '~':
                addChar(0x00A0);
                break;
            case '-':
                addChar(0x00AD);
                break;
            case '_':
                addChar(0x2011);
                break;
            case '\t':
                addChar('\t');
                break;
            case '*':
                top().dest = Dest::Skip;
                break;
            case '\r':
            case '\n':
                if (top().dest == Dest::Text) endParagraph();
                break;
            default:
                break;
        }
    }

    void word(const Token& t) {
        State& s = top();
        if (s.dest == Dest::Skip) return;
        const auto& keywords = Keywords();
        const auto found = keywords.find(t.name);
        if (found == keywords.end()) return;
        const KwInfo info = found->second;
        const long long n = t.param;
        const bool on = !t.hasParam || n != 0;
        if (info.kw == Kw::SkipDest) {
            s.dest = Dest::Skip;
            return;
        }
        if (info.kw == Kw::U) {
            int unit = ClampInt(n, -32768, 0x10000);
            if (unit < 0) unit += 0x10000;
            addChar(unit > 0xFFFF ? char16_t(0xFFFD) : static_cast<char16_t>(unit));
            skipChars_ = s.uc;
            return;
        }
        if (info.kw == Kw::Char) {
            addChar(info.ch);
            return;
        }
        // Of the document's information, only its title and author are kept.
        if (s.dest == Dest::Info) {
            if (info.kw == Kw::Title) s.dest = Dest::Title;
            if (info.kw == Kw::Author) s.dest = Dest::Author;
            return;
        }
        if (s.dest == Dest::Title || s.dest == Dest::Author) return;
        if (s.dest == Dest::FontTable) {
            switch (info.kw) {
                case Kw::F:
                    commitFont();
                    fontNum_ = ClampInt(n, 0, INT_MAX);
                    break;
                case Kw::Fcharset:
                    fontCodepage_ = CharsetCodePage(ClampInt(n, 0, 255));
                    break;
                case Kw::Cpg:
                    if (CodePageTable(ClampInt(n, 0, 65535))) fontCodepage_ = static_cast<int>(n);
                    break;
                default:
                    break;
            }
            return;
        }
        if (s.dest == Dest::ColorTable) {
            switch (info.kw) {
                case Kw::Red:
                    red_ = ClampInt(n, 0, 255);
                    break;
                case Kw::Green:
                    green_ = ClampInt(n, 0, 255);
                    break;
                case Kw::Blue:
                    blue_ = ClampInt(n, 0, 255);
                    break;
                default:
                    break;
            }
            return;
        }
        CharProps& ch = s.chars;
        ParaProps& pa = s.para;
        switch (info.kw) {
            case Kw::Ansi:
            case Kw::Pc:
                docCodepage_ = 1252;
                break;  // 437 and 850 are read as 1252
            case Kw::Mac:
                docCodepage_ = 10000;
                break;
            case Kw::Ansicpg:
                if (CodePageTable(ClampInt(n, 0, 65535))) docCodepage_ = static_cast<int>(n);
                break;
            case Kw::Deff:
                deff_ = ClampInt(n, 0, INT_MAX);
                break;
            case Kw::Fonttbl:
                s.dest = Dest::FontTable;
                fontNum_ = -1;
                break;
            case Kw::Colortbl:
                s.dest = Dest::ColorTable;
                red_ = green_ = blue_ = -1;
                break;
            case Kw::F:
                ch.font = ClampInt(n, 0, INT_MAX);
                break;
            case Kw::Par:
                endParagraph();
                break;
            case Kw::Page:
                endParagraph();
                pageBreak_ = true;
                break;
            case Kw::Line:
                addChar(0x2028);
                break;
            case Kw::Tab:
            case Kw::Cell:
                addChar('\t');
                break;
            case Kw::Pard:
                pa = ParaProps{};
                break;
            case Kw::Plain:
                ch = CharProps{};
                break;
            case Kw::Ql:
                pa.align = Qt::AlignLeft;
                break;
            case Kw::Qr:
                pa.align = Qt::AlignRight;
                break;
            case Kw::Qc:
                pa.align = Qt::AlignHCenter;
                break;
            case Kw::Qj:
                pa.align = Qt::AlignJustify;
                break;
            case Kw::Li:
                pa.left = ClampTwips(n);
                break;
            case Kw::Ri:
                pa.right = ClampTwips(n);
                break;
            case Kw::Fi:
                pa.first = ClampTwips(n);
                break;
            case Kw::Sb:
                pa.before = ClampInt(n, 0, kMaxTwips);
                break;
            case Kw::Sa:
                pa.after = ClampInt(n, 0, kMaxTwips);
                break;
            case Kw::Tx:
                if (t.hasParam && pa.tabs.size() < static_cast<std::size_t>(kMaxTabs)) {
                    pa.tabs.push_back({ClampTwips(n), pa.nextTab});
                }
                pa.nextTab = QTextOption::LeftTab;
                break;
            case Kw::Tqr:
                pa.nextTab = QTextOption::RightTab;
                break;
            case Kw::Tqc:
                pa.nextTab = QTextOption::CenterTab;
                break;
            case Kw::Tqdec:
                pa.nextTab = QTextOption::DelimiterTab;
                break;
            case Kw::Tb:
                pa.nextTab = QTextOption::LeftTab;
                break;  // a bar, not a stop
            case Kw::Pagebb:
                pa.pageBreakBefore = on;
                break;
            case Kw::B:
                ch.bold = on;
                break;
            case Kw::I:
                ch.italic = on;
                break;
            case Kw::Ul:
                ch.underline = on;
                break;
            case Kw::Ulnone:
                ch.underline = false;
                break;
            case Kw::Strike:
                ch.strike = on;
                break;
            case Kw::Fs:
                ch.halfPoints = t.hasParam ? ClampInt(n, 0, kMaxHalfPoints) : 24;
                break;
            case Kw::Cf:
                ch.color = ClampInt(n, 0, kMaxColors);
                break;
            case Kw::Uc:
                s.uc = ClampInt(t.hasParam ? n : 1, 0, 255);
                break;
            case Kw::Info:
                s.dest = Dest::Info;
                break;
            case Kw::Paperw:
                if (t.hasParam && n > 0) page_.paperWidth = ClampInt(n, 0, kMaxTwips);
                break;
            case Kw::Paperh:
                if (t.hasParam && n > 0) page_.paperHeight = ClampInt(n, 0, kMaxTwips);
                break;
            case Kw::Margl:
                if (t.hasParam) page_.marginLeft = ClampInt(n, 0, kMaxTwips);
                break;
            case Kw::Margr:
                if (t.hasParam) page_.marginRight = ClampInt(n, 0, kMaxTwips);
                break;
            case Kw::Margt:
                if (t.hasParam) page_.marginTop = ClampInt(n, 0, kMaxTwips);
                break;
            case Kw::Margb:
                if (t.hasParam) page_.marginBottom = ClampInt(n, 0, kMaxTwips);
                break;
            case Kw::Landscape:
                page_.landscape = true;
                break;
            default:
                break;
        }
    }

    // A byte of text in the code page of the current font.
    void addByte(unsigned char b) {
        if (b >= 0x80) {
            const char16_t* table = CodePageTable(codepage());
            addChar((table ? table : CodePageTable(1252))[b - 0x80]);
        } else if (b == '\t' || (b >= 0x20 && b != 0x7F)) {
            addChar(b);
        }
    }

    int codepage() const {
        const State& s = stack_.back();
        if (s.dest == Dest::FontTable && fontCodepage_) return fontCodepage_;
        const auto it = fonts_.constFind(s.chars.font >= 0 ? s.chars.font : deff_);
        return it != fonts_.cend() && it->codepage ? it->codepage : docCodepage_;
    }

    void addChar(char16_t c) {
        switch (top().dest) {
            case Dest::Text:
                appendText(c);
                break;
            case Dest::FontTable:
                if (c == ';') {
                    commitFont();
                } else if (fontName_.size() < kMaxFontName) {
                    fontName_ += QChar(c);
                }
                break;
            case Dest::ColorTable:
                if (c == ';') commitColor();
                break;
            case Dest::Title:
                if (page_.title.size() < kMaxInfoText) page_.title += QChar(c);
                break;
            case Dest::Author:
                if (page_.author.size() < kMaxInfoText) page_.author += QChar(c);
                break;
            case Dest::Info:
            case Dest::Skip:
                break;
        }
    }

    // Surrogates come in pairs, each from its own \uN; a lone one becomes U+FFFD.
    void appendText(char16_t c) {
        if (pendingHigh_) {
            const char16_t high = pendingHigh_;
            pendingHigh_ = 0;
            startRun();
            if (QChar::isLowSurrogate(c)) {
                run_ += QChar(high);
                run_ += QChar(c);
                return;
            }
            run_ += QChar(0xFFFD);
        }
        if (QChar::isHighSurrogate(c)) {
            pendingHigh_ = c;
            return;
        }
        startRun();
        run_ += QChar(QChar::isLowSurrogate(c) ? char16_t(0xFFFD) : c);
    }

    void appendAscii(const char* text, qsizetype n) {
        if (pendingHigh_) {
            appendText(static_cast<unsigned char>(*text++));
            if (--n == 0) return;
        }
        startRun();
        run_.append(QLatin1StringView(text, n));
    }

    // Text of one format is gathered and inserted at once.
    void startRun() {
        if (!run_.isEmpty() && !(top().chars == runProps_)) flush();
        if (run_.isEmpty()) runProps_ = top().chars;
        textDepth_ = stack_.size();
        blockHasText_ = true;
    }

    void flush() {
        if (pendingHigh_) {
            pendingHigh_ = 0;
            if (run_.isEmpty()) runProps_ = top().chars;
            run_ += QChar(0xFFFD);
        }
        if (run_.isEmpty()) return;
        ensureBlock();
        if (paragraphs_)
            paragraphs_->add(run_);
        else
            cursor_.insertText(run_, charFormat(runProps_));
        run_.clear();
    }

    // A paragraph is created when something goes into it, so that the \par ending the last
    // one leaves no empty paragraph behind.
    void ensureBlock() {
        if (!needBlock_) return;
        if (paragraphs_)
            paragraphs_->next();
        else
            cursor_.insertBlock();
        needBlock_ = false;
    }

    void endParagraph() {
        flush();
        ensureBlock();
        if (!paragraphs_) cursor_.setBlockFormat(blockFormat(top().para));
        needBlock_ = true;
        blockHasText_ = false;
        textDepth_ = 0;
    }

    void finish() {
        flush();
        if (paragraphs_) {
            paragraphs_->next();  // a document always has its last paragraph
            return;
        }
        if (blockHasText_) {
            cursor_.setBlockFormat(
                blockFormat(stack_.size() == textDepth_ ? top().para : lastPara_));
        }
    }

    void commitFont() {
        if (fontNum_ >= 0 && (fonts_.size() < kMaxFonts || fonts_.contains(fontNum_))) {
            fonts_.insert(fontNum_, Font{fontName_.trimmed(), fontCodepage_});
            formatValid_ = false;
        }
        fontNum_ = -1;
        fontName_.clear();
        fontCodepage_ = 0;
    }

    void commitColor() {
        if (colors_.size() < static_cast<std::size_t>(kMaxColors)) {
            if (red_ < 0 && green_ < 0 && blue_ < 0) {
                colors_.emplace_back();  // automatic
            } else {
                colors_.emplace_back(std::max(red_, 0), std::max(green_, 0), std::max(blue_, 0));
            }
            formatValid_ = false;
        }
        red_ = green_ = blue_ = -1;
    }

    QTextCharFormat charFormat(const CharProps& c) {
        if (formatValid_ && c == formatProps_) return format_;
        QTextCharFormat f;
        if (c.bold) f.setFontWeight(QFont::Bold);
        if (c.italic) f.setFontItalic(true);
        if (c.underline) f.setFontUnderline(true);
        if (c.strike) f.setFontStrikeOut(true);
        if (c.font >= 0) {
            const auto it = fonts_.constFind(c.font);
            if (it != fonts_.cend() && !it->name.isEmpty()) f.setFontFamilies({it->name});
        }
        if (c.halfPoints > 0) f.setFontPointSize(c.halfPoints / 2.0);
        if (c.color > 0 && static_cast<std::size_t>(c.color) < colors_.size() &&
            colors_[c.color].isValid()) {
            f.setForeground(colors_[c.color]);
        }
        formatProps_ = c;
        format_ = f;
        formatValid_ = true;
        return f;
    }

    QTextBlockFormat blockFormat(const ParaProps& p) {
        QTextBlockFormat f;
        if (p.align != Qt::AlignLeft) f.setAlignment(p.align);
        if (p.left) f.setLeftMargin(p.left / kTwipsPerUnit);
        if (p.right) f.setRightMargin(p.right / kTwipsPerUnit);
        if (p.first) f.setTextIndent(p.first / kTwipsPerUnit);
        if (p.before) f.setTopMargin(p.before / kTwipsPerUnit);
        if (p.after) f.setBottomMargin(p.after / kTwipsPerUnit);
        if (p.pageBreakBefore || pageBreak_) {
            f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        }
        pageBreak_ = false;
        if (!p.tabs.empty()) {
            std::vector<TabStop> sorted = p.tabs;
            std::stable_sort(sorted.begin(), sorted.end(),
                             [](const TabStop& a, const TabStop& b) { return a.twips < b.twips; });
            QList<QTextOption::Tab> tabs;
            for (const TabStop& t : sorted) {
                tabs.append(QTextOption::Tab(
                    t.twips / kTwipsPerUnit, t.type,
                    t.type == QTextOption::DelimiterTab ? decimalPoint_ : QChar()));
            }
            f.setTabPositions(tabs);
        }
        return f;
    }

    const char* p_;
    const char* end_;
    std::vector<State> stack_;
    int overflow_ = 0;   // groups opened past kMaxDepth
    int skipChars_ = 0;  // fallback characters of a \uN still to skip
    char16_t pendingHigh_ = 0;

    int docCodepage_ = 1252;
    int deff_ = 0;
    QHash<int, Font> fonts_;
    std::vector<QColor> colors_;
    int fontNum_ = -1;  // the font table entry being read
    QString fontName_;
    int fontCodepage_ = 0;
    int red_ = -1, green_ = -1, blue_ = -1;
    QChar decimalPoint_;

    QTextCursor cursor_;
    ParagraphSplitter* paragraphs_ = nullptr;
    QString run_;
    CharProps runProps_;
    bool needBlock_ = false;
    bool blockHasText_ = false;
    std::size_t textDepth_ = 0;  // depth of the group that last added text to the paragraph
    ParaProps lastPara_;
    bool pageBreak_ = false;

    PageSetup page_;

    bool formatValid_ = false;
    CharProps formatProps_;
    QTextCharFormat format_;
};

QString DecodePlain(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes = bytes.sliced(3);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) return text;
    const char16_t* table = CodePageTable(1252);
    text.resize(bytes.size());
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = QChar(b < 0x80 ? char16_t(b) : table[b - 0x80]);
    }
    return text;
}

// One paragraph a line, without the control characters.
QString PlainLines(QByteArrayView bytes) {
    const QString text = DecodePlain(bytes);
    QString lines;
    lines.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            lines += u'\n';
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        } else if (c == u'\n' || c == u'\t' || (c.unicode() >= 0x20 && c.unicode() != 0x7F)) {
            lines += c;
        }
    }
    if (lines.endsWith(u'\n')) lines.chop(1);
    return lines;
}

void ReadPlain(QByteArrayView bytes, QTextDocument& doc) {
    doc.setPlainText(PlainLines(bytes));
}

}  // namespace

bool IsRtf(QByteArrayView bytes) {
    qsizetype i = 0;
    while (i < bytes.size() &&
           (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n')) {
        ++i;
    }
    return bytes.sliced(i).startsWith("{\\rtf");
}

void ReadRtf(QByteArrayView bytes, QTextDocument& doc) {
    if (!IsRtf(bytes)) {
        ReadPlain(bytes, doc);
        SetPageSetup(doc, PageSetup{});
        return;
    }
    const bool undo = doc.isUndoRedoEnabled();
    doc.setUndoRedoEnabled(false);
    doc.clear();
    {
        Parser parser(bytes, doc);
        QTextCursor batch(&doc);
        batch.beginEditBlock();
        parser.run(QDeadlineTimer(QDeadlineTimer::Forever));
        batch.endEditBlock();
        SetPageSetup(doc, parser.page());
    }
    doc.setUndoRedoEnabled(undo);
}

struct RtfLoader::Parse {
    Parse(QByteArrayView bytes, QTextDocument& doc) : parser(bytes, doc) {}
    Parser parser;
};

RtfLoader::RtfLoader(QByteArray bytes, QTextDocument& doc)
    : bytes_(std::move(bytes)), doc_(doc), undo_(doc.isUndoRedoEnabled()) {
    if (!IsRtf(bytes_)) {
        ReadRtf(bytes_, doc_);
        return;
    }
    doc_.setUndoRedoEnabled(false);
    doc_.clear();
    parse_ = std::make_unique<Parse>(bytes_, doc_);
}

RtfLoader::~RtfLoader() {
    if (parse_) doc_.setUndoRedoEnabled(undo_);
}

bool RtfLoader::readUntil(const QDeadlineTimer& deadline) {
    if (!parse_) return true;
    QTextCursor batch(&doc_);
    batch.beginEditBlock();
    const bool end = parse_->parser.run(deadline);
    batch.endEditBlock();
    if (!end) return false;
    SetPageSetup(doc_, parse_->parser.page());
    parse_.reset();
    doc_.setUndoRedoEnabled(undo_);
    return true;
}

struct RtfParagraphReader::Parse {
    Parse(QByteArrayView bytes, const RtfParagraphSink& sink)
        : paragraphs(sink), parser(bytes, paragraphs) {}
    ParagraphSplitter paragraphs;
    Parser parser;
};

RtfParagraphReader::RtfParagraphReader(QByteArray bytes, RtfParagraphSink sink)
    : bytes_(std::move(bytes)), sink_(std::move(sink)) {}

RtfParagraphReader::~RtfParagraphReader() = default;

bool RtfParagraphReader::readUntil(const QDeadlineTimer& deadline) {
    if (done_) return true;
    if (!IsRtf(bytes_)) {
        ParagraphSplitter paragraphs(sink_);
        paragraphs.add(PlainLines(bytes_));
        paragraphs.next();
        return done_ = true;
    }
    if (!parse_) parse_ = std::make_unique<Parse>(bytes_, sink_);
    if (!parse_->parser.run(deadline)) return false;
    parse_.reset();
    return done_ = true;
}

}  // namespace tallimer
