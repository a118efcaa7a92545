#pragma once
// Appending to an RTF file that WriteRtf wrote, without reading all of it: its last
// paragraph line gives the paragraph and character properties that new paragraphs take, as
// they would in the document, so the file gets the bytes WriteRtf would give it.
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>

#include "invoices/InvoiceDocument.h"

namespace tallimer {

struct RtfTail {
    QByteArray paraProps;  // "\pard..." as written
    QByteArray runProps;   // the last run's words but bold, italic, underline and strike-out
    bool operator==(const RtfTail&) const = default;
};

// What new paragraphs replace at the end of the file: the document's closing brace.
inline constexpr qsizetype kRtfEnd = 3;

// One paragraph line of the writer's, "\pard" up to its "\par".
struct RtfLine {
    QByteArrayView paraProps;
    QByteArray runProps;       // the last run's words but the attributes
    QByteArray text;           // the runs' text as written, one after the other
    QList<int> fonts, colors;  // the font and colour numbers of its runs, in order
    // The words last found in shape, for the next line read into the same RtfLine.
    QByteArray checkedPara, checkedRun, checkedBase;
    int checkedFont = -1, checkedColor = -1;
};
// False when the line is not in the writer's shape.
bool ParseRtfLine(QByteArrayView line, RtfLine& out);

// What comes before the paragraphs of a file the writer wrote.
struct RtfHead {
    int fonts = 0, colors = 0;  // in its tables
    qsizetype body = 0;         // where the paragraph lines begin
};
std::optional<RtfHead> ParseRtfHead(QByteArrayView bytes);

// The tail of bytes ending with a paragraph line in the writer's shape whose last run holds
// text; nothing otherwise (appending then needs the whole document).
std::optional<RtfTail> ParseRtfTail(QByteArrayView bytes);

// The bytes that replace the closing brace when text is appended with the attributes (a
// "\n" starts another paragraph), the closing brace included. tail becomes the new last
// paragraph's, or nothing when that one has no text.
QByteArray AppendedParagraphs(std::optional<RtfTail>& tail, const QString& text,
                              const CharAttributes& attributes);

}  // namespace tallimer
