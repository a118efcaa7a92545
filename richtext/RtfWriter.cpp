#include "richtext/RtfWriter.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <algorithm>
#include <utility>

#include "richtext/RtfShared.h"

namespace tallimer {
namespace {

using namespace rtf;

constexpr qsizetype kMaxFontName = 256;  // as much as the reader keeps

void AppendNumber(QByteArray& out, const char* word, long long n) {
    out += word;
    out += QByteArray::number(n);
}

// The blank ends the number: some readers take "?," after a number as one token to skip.
void AppendUnit(QByteArray& out, char16_t c) {
    AppendNumber(out, "\\u", static_cast<short>(c));
    out += " ?";
}

bool Plain(char16_t c) {
    return c >= 0x20 && c < 0x7F && c != u'\\' && c != u'{' && c != u'}';
}

// Text in Windows-1252, anything else as \uN with '?' for readers that do not know it.
void AppendText(QByteArray& out, QStringView text) {
    static const char hex[] = "0123456789abcdef";
    for (qsizetype i = 0; i < text.size(); ++i) {
        // Plain characters a run at a time: a long invoice is mostly them.
        qsizetype plain = i;
        while (plain < text.size() && Plain(text[plain].unicode())) ++plain;
        if (plain > i) {
            const qsizetype at = out.size();
            out.resize(at + plain - i);
            for (char* p = out.data() + at; i < plain; ++i)
                *p++ = static_cast<char>(text[i].unicode());
            if (i == text.size()) break;
        }
        char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            AppendUnit(out, c);
            AppendUnit(out, text[++i].unicode());
            continue;
        }
        if (QChar::isSurrogate(c)) c = 0xFFFD;
        switch (c) {
            case u'\\':
                out += "\\\\";
                continue;
            case u'{':
                out += "\\{";
                continue;
            case u'}':
                out += "\\}";
                continue;
            case u'\t':
                out += "\\tab ";
                continue;
            case 0x2028:
            case 0x2029:
                out += "\\line ";
                continue;
            case 0x00A0:
                out += "\\~";
                continue;
            case 0x00AD:
                out += "\\-";
                continue;
            case 0x2011:
                out += "\\_";
                continue;
            case 0xFFFC:
                continue;  // an embedded object: not kept
            default:
                break;
        }
        if (c < 0x20 || c == 0x7F) continue;
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        const int b = ToCp1252(c);
        if (b >= 0) {
            out += "\\'";
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            AppendUnit(out, c);
        }
    }
}

int Twips(qreal units) {
    return ClampTwips(qRound64(units * kTwipsPerUnit));
}

// The name as the reader will give it back.
QString CleanFontName(const QString& name) {
    QString clean;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            clean += name[i];
            clean += name[++i];
        } else if (QChar::isSurrogate(c)) {
            clean += QChar(0xFFFD);
        } else if (c >= 0x20 && c != 0x7F && c != u';' && c != 0x2028 && c != 0x2029 &&
                   c != 0xFFFC) {
            clean += name[i];
        }
    }
    return clean.left(kMaxFontName).trimmed();
}

// The fonts and colours the document uses, numbered as they first appear.
struct Tables {
    QList<QString> fonts;
    QHash<QString, int> fontIndex;
    QList<QRgb> colors;
    QHash<QRgb, int> colorIndex;

    int font(const QString& name) {
        const auto it = fontIndex.constFind(name);
        if (it != fontIndex.cend()) return *it;
        fonts.append(name);
        return fontIndex[name] = static_cast<int>(fonts.size() - 1);
    }
    int color(QRgb rgb) {
        const auto it = colorIndex.constFind(rgb);
        if (it != colorIndex.cend()) return *it;
        colors.append(rgb);
        return colorIndex[rgb] = static_cast<int>(colors.size());  // 0 is "automatic"
    }
};

QByteArray CharProps(const QTextCharFormat& f, Tables& tables) {
    QByteArray k;
    if (f.fontWeight() >= QFont::DemiBold) k += "\\b";
    if (f.fontItalic()) k += "\\i";
    if (f.fontUnderline() || f.underlineStyle() != QTextCharFormat::NoUnderline) k += "\\ul";
    if (f.fontStrikeOut()) k += "\\strike";
    const QStringList families = f.fontFamilies().toStringList();
    if (!families.isEmpty()) {
        const QString name = CleanFontName(families.front());
        if (!name.isEmpty()) AppendNumber(k, "\\f", tables.font(name));
    }
    if (f.hasProperty(QTextFormat::FontPointSize) && f.fontPointSize() > 0) {
        AppendNumber(k, "\\fs", std::clamp(qRound(f.fontPointSize() * 2), 1, kMaxHalfPoints));
    }
    if (f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().style() != Qt::NoBrush) {
        AppendNumber(k, "\\cf", tables.color(f.foreground().color().rgb() & 0xFFFFFF));
    }
    return k;
}

QByteArray ParaProps(const QTextBlockFormat& f) {
    QByteArray k = "\\pard";
    const Qt::Alignment a = f.alignment();
    if (a & Qt::AlignJustify) {
        k += "\\qj";
    } else if (a & Qt::AlignHCenter) {
        k += "\\qc";
    } else if (a & Qt::AlignRight) {
        k += "\\qr";
    }
    if (const int v = Twips(f.leftMargin())) AppendNumber(k, "\\li", v);
    if (const int v = Twips(f.rightMargin())) AppendNumber(k, "\\ri", v);
    if (const int v = Twips(f.textIndent())) AppendNumber(k, "\\fi", v);
    if (const int v = std::max(Twips(f.topMargin()), 0)) AppendNumber(k, "\\sb", v);
    if (const int v = std::max(Twips(f.bottomMargin()), 0)) AppendNumber(k, "\\sa", v);
    if (f.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore) k += "\\pagebb";
    QList<QTextOption::Tab> tabs = f.tabPositions();
    std::stable_sort(tabs.begin(), tabs.end(),
                     [](const auto& x, const auto& y) { return x.position < y.position; });
    for (qsizetype i = 0; i < std::min<qsizetype>(tabs.size(), kMaxTabs); ++i) {
        switch (tabs[i].type) {
            case QTextOption::RightTab:
                k += "\\tqr";
                break;
            case QTextOption::CenterTab:
                k += "\\tqc";
                break;
            case QTextOption::DelimiterTab:
                k += "\\tqdec";
                break;
            case QTextOption::LeftTab:
                break;
        }
        AppendNumber(k, "\\tx", Twips(tabs[i].position));
    }
    return k;
}

}  // namespace

void AppendRtfText(QByteArray& out, QStringView text) {
    AppendText(out, text);
}

QByteArray WriteRtf(const QTextDocument& doc) {
    Tables tables;
    const QString defaultFamily = CleanFontName(doc.defaultFont().family());
    tables.font(defaultFamily.isEmpty() ? QStringLiteral("Arial") : defaultFamily);

    QByteArray body;
    QByteArray text;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        body += ParaProps(block.blockFormat());
        body += ' ';
        // Runs whose written properties are the same are one run, as the reader sees them.
        QByteArray current;
        bool inGroup = false;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            text.clear();
            AppendText(text, fragment.text());
            if (text.isEmpty()) continue;
            const QByteArray props = CharProps(fragment.charFormat(), tables);
            if (props != current) {
                if (inGroup) body += '}';
                inGroup = !props.isEmpty();
                if (inGroup) body += '{' + props + ' ';
                current = props;
            }
            body += text;
        }
        if (inGroup) body += '}';
        body += "\\par\r\n";
    }

    QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\r\n{\\fonttbl";
    for (qsizetype i = 0; i < tables.fonts.size(); ++i) {
        AppendNumber(out, "{\\f", i);
        out += "\\fnil\\fcharset0 ";
        AppendText(out, tables.fonts[i]);
        out += ";}";
    }
    out += "}\r\n";
    if (!tables.colors.isEmpty()) {
        out += "{\\colortbl ;";
        for (const QRgb rgb : tables.colors) {
            AppendNumber(out, "\\red", qRed(rgb));
            AppendNumber(out, "\\green", qGreen(rgb));
            AppendNumber(out, "\\blue", qBlue(rgb));
            out += ';';
        }
        out += "}\r\n";
    }
    const PageSetup page = PageSetupOf(doc);
    if (!page.title.isEmpty() || !page.author.isEmpty()) {
        out += "{\\info";
        for (const auto& [word, text] :
             {std::pair{"{\\title ", &page.title}, std::pair{"{\\author ", &page.author}}) {
            if (text->isEmpty()) continue;
            out += word;
            AppendText(out, *text);
            out += '}';
        }
        out += "}\r\n";
    }
    QByteArray pageWords;
    for (const auto& [word, twips] :
         {std::pair{"\\paperw", page.paperWidth}, std::pair{"\\paperh", page.paperHeight},
          std::pair{"\\margl", page.marginLeft}, std::pair{"\\margr", page.marginRight},
          std::pair{"\\margt", page.marginTop}, std::pair{"\\margb", page.marginBottom}}) {
        if (twips >= 0) AppendNumber(pageWords, word, twips);
    }
    if (page.landscape) pageWords += "\\landscape";
    if (!pageWords.isEmpty()) out += pageWords + "\r\n";
    out += "\\uc1\r\n";
    out += body;
    out += "}\r\n";
    return out;
}

}  // namespace tallimer
