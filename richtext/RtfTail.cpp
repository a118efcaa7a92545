#include "richtext/RtfTail.h"

#include <array>
#include <string_view>

#include "richtext/RtfWriter.h"

namespace tallimer {

namespace {

bool IsLetter(char c) {
    return c >= 'a' && c <= 'z';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads "\word" or "\wordN" at pos; false when there is none.
bool ReadWord(QByteArrayView s, qsizetype& pos, std::string_view& word) {
    if (pos >= s.size() || s[pos] != '\\') return false;
    qsizetype i = pos + 1;
    while (i < s.size() && IsLetter(s[i])) ++i;
    if (i == pos + 1) return false;
    word = std::string_view(s.data() + pos + 1, static_cast<std::size_t>(i - pos - 1));
    if (i < s.size() && s[i] == '-') ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (s[i - 1] == '-') return false;
    pos = i;
    return true;
}

// Only the writer's paragraph words, "\pard" first.
bool ParaPropsInShape(QByteArrayView s) {
    static constexpr std::array<std::string_view, 13> kWords = {
        "qj", "qc", "qr", "li", "ri", "fi", "sb", "sa", "pagebb", "tqr", "tqc", "tqdec", "tx"};
    qsizetype pos = 0;
    std::string_view word;
    if (!ReadWord(s, pos, word) || word != "pard") return false;
    while (pos < s.size()) {
        if (!ReadWord(s, pos, word)) return false;
        bool known = false;
        for (std::string_view k : kWords) known = known || k == word;
        if (!known) return false;
    }
    return true;
}

// The number after a word, which ReadWord has checked.
int WordNumber(QByteArrayView word) {
    int n = 0;
    for (const char c : word)
        if (IsDigit(c)) n = n * 10 + (c - '0');
    return n;
}

// The writer's run words in its order; the first four (the attributes) are left out of
// base. The font and colour it names are added to line.
bool RunPropsInShape(QByteArrayView s, QByteArray& base, RtfLine& line) {
    static constexpr std::array<std::string_view, 7> kOrder = {"b", "i",  "ul", "strike",
                                                               "f", "fs", "cf"};
    qsizetype pos = 0;
    std::size_t next = 0;
    base.resize(0);
    while (pos < s.size()) {
        const qsizetype start = pos;
        std::string_view word;
        if (!ReadWord(s, pos, word)) return false;
        std::size_t k = next;
        while (k < kOrder.size() && kOrder[k] != word) ++k;
        if (k == kOrder.size()) return false;
        const bool numbered = pos - start > static_cast<qsizetype>(word.size() + 1);
        if (numbered != (k >= 4)) return false;
        if (k >= 4) base += s.sliced(start, pos - start);
        if (k == 4) line.fonts.push_back(WordNumber(s.sliced(start, pos - start)));
        if (k == 6) line.colors.push_back(WordNumber(s.sliced(start, pos - start)));
        next = k + 1;
    }
    return true;
}

// Text as the writer escapes it, from pos up to an unescaped brace or the end.
bool SkipText(QByteArrayView s, qsizetype& pos) {
    while (pos < s.size()) {
        const char c = s[pos];
        if (c == '{' || c == '}') return true;
        if (static_cast<unsigned char>(c) < 0x20) return false;
        if (c != '\\') {
            ++pos;
            continue;
        }
        if (pos + 1 >= s.size()) return false;
        const char n = s[pos + 1];
        if (n == '\\' || n == '{' || n == '}' || n == '~' || n == '-' || n == '_') {
            pos += 2;
        } else if (n == '\'') {
            if (pos + 3 >= s.size()) return false;
            pos += 4;
        } else {
            std::string_view word;
            if (!ReadWord(s, pos, word) || (word != "tab" && word != "line" && word != "u"))
                return false;
            if (pos < s.size() && s[pos] == ' ') ++pos;
        }
    }
    return true;
}

}  // namespace

bool ParseRtfLine(QByteArrayView line, RtfLine& out) {
    // Emptied, not freed: a file's lines are read one after the other into the same out.
    out.runProps.resize(0);
    out.text.resize(0);
    out.fonts.resize(0);
    out.colors.resize(0);
    const qsizetype space = line.indexOf(' ');
    if (space <= 0) return false;
    // A file's lines mostly repeat the one before's words: checked once.
    if (line.first(space) != out.checkedPara) {
        if (!ParaPropsInShape(line.first(space))) return false;
        out.checkedPara = line.first(space).toByteArray();
    }
    out.paraProps = line.first(space);
    for (qsizetype pos = space + 1; pos < line.size();) {
        if (line[pos] == '{') {
            const qsizetype words = line.indexOf(' ', pos);
            if (words < 0) return false;
            const QByteArrayView runWords = line.sliced(pos + 1, words - pos - 1);
            if (runWords != out.checkedRun) {
                const qsizetype fonts = out.fonts.size(), colors = out.colors.size();
                out.checkedRun.resize(0);
                if (!RunPropsInShape(runWords, out.checkedBase, out)) return false;
                out.checkedRun = runWords.toByteArray();
                out.checkedFont = out.fonts.size() > fonts ? out.fonts.back() : -1;
                out.checkedColor = out.colors.size() > colors ? out.colors.back() : -1;
            } else {
                if (out.checkedFont >= 0) out.fonts.push_back(out.checkedFont);
                if (out.checkedColor >= 0) out.colors.push_back(out.checkedColor);
            }
            out.runProps = out.checkedBase;
            pos = words + 1;
            const qsizetype start = pos;
            if (!SkipText(line, pos) || pos == start || pos >= line.size() || line[pos] != '}')
                return false;
            out.text += line.sliced(start, pos - start);
            ++pos;
        } else {
            const qsizetype start = pos;
            if (!SkipText(line, pos) || pos == start || (pos < line.size() && line[pos] == '}'))
                return false;
            out.text += line.sliced(start, pos - start);
            out.runProps.resize(0);
        }
    }
    return true;
}

std::optional<RtfTail> ParseRtfTail(QByteArrayView bytes) {
    constexpr QByteArrayView kEnd = "\\par\r\n}\r\n";
    if (!bytes.endsWith(kEnd)) return std::nullopt;
    const qsizetype lineEnd = bytes.size() - kEnd.size();
    const qsizetype before = bytes.first(lineEnd).lastIndexOf(QByteArrayView("\r\n"));
    if (before < 0) return std::nullopt;
    RtfLine line;
    if (!ParseRtfLine(bytes.sliced(before + 2, lineEnd - before - 2), line) || line.text.isEmpty())
        return std::nullopt;
    return RtfTail{line.paraProps.toByteArray(), line.runProps};
}

std::optional<RtfHead> ParseRtfHead(QByteArrayView bytes) {
    RtfHead head;
    constexpr QByteArrayView kStart = "{\\rtf1\\ansi\\ansicpg1252\\deff0\r\n{\\fonttbl";
    if (!bytes.startsWith(kStart)) return std::nullopt;
    qsizetype pos = kStart.size();
    // "{\fN\fnil\fcharset0 name;}" each, numbered from 0; a name holds no ';'.
    for (;; ++head.fonts) {
        const QByteArray entry = "{\\f" + QByteArray::number(head.fonts) + "\\fnil\\fcharset0 ";
        if (!bytes.sliced(pos).startsWith(entry)) break;
        const qsizetype end = bytes.indexOf(";}", pos);
        if (end < 0) return std::nullopt;
        pos = end + 2;
    }
    if (head.fonts == 0 || !bytes.sliced(pos).startsWith("}\r\n")) return std::nullopt;
    pos += 3;
    constexpr QByteArrayView kColors = "{\\colortbl ;";
    if (bytes.sliced(pos).startsWith(kColors)) {
        const qsizetype end = bytes.indexOf("}\r\n", pos);
        if (end < 0) return std::nullopt;
        head.colors = static_cast<int>(bytes.sliced(pos, end - pos).count(';')) - 1;
        pos = end + 3;
    }
    // The \info and page lines hold no line end of their own: the body follows "\uc1".
    const qsizetype uc = bytes.indexOf("\r\n\\uc1\r\n", pos - 2);
    if (uc < 0) return std::nullopt;
    head.body = uc + 8;
    return head;
}

QByteArray AppendedParagraphs(std::optional<RtfTail>& tail, const QString& text,
                              const CharAttributes& attributes) {
    QByteArray props;
    if (attributes.bold) props += "\\b";
    if (attributes.italic) props += "\\i";
    if (attributes.underline) props += "\\ul";
    if (attributes.strikeOut) props += "\\strike";
    props += tail->runProps;
    QString clean = text;
    clean.remove(u'\r');
    QByteArray out;
    out.reserve(clean.size() + tail->paraProps.size() + props.size() + 16);
    bool lastHasText = false;
    for (qsizetype start = 0;;) {
        const qsizetype nl = clean.indexOf(u'\n', start);
        const qsizetype end = nl < 0 ? clean.size() : nl;
        out += tail->paraProps;
        out += ' ';
        const qsizetype runAt = out.size();
        if (!props.isEmpty()) out += '{' + props + ' ';
        const qsizetype textAt = out.size();
        AppendRtfText(out, QStringView(clean).sliced(start, end - start));
        lastHasText = out.size() > textAt;
        if (!lastHasText) out.truncate(runAt);
        if (lastHasText && !props.isEmpty()) out += '}';
        out += "\\par\r\n";
        if (nl < 0) break;
        start = nl + 1;
    }
    out += "}\r\n";
    if (!lastHasText) tail.reset();
    return out;
}

}  // namespace tallimer
