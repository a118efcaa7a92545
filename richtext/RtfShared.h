#pragma once
// What the RTF reader and writer must agree on: code pages and the limits both clamp to, so
// that writing what was read gives the same bytes again.
#include <QString>
#include <algorithm>

class QTextDocument;

namespace tallimer::rtf {

// Document units are pixels of 1/96 inch; RTF measures in twips (1/1440 inch).
inline constexpr double kTwipsPerUnit = 15.0;
// Word's own limit for page dimensions, indents and tab positions: 22 inches.
inline constexpr int kMaxTwips = 31680;
inline constexpr int kMaxTabs = 64;
inline constexpr int kMaxHalfPoints = 3276;

inline int ClampTwips(long long v) {
    return static_cast<int>(std::clamp<long long>(v, -kMaxTwips, kMaxTwips));
}

// The 128 upper characters of a single-byte code page, or nullptr for one we do not know.
// Known: 1250, 1251, 1252, 1253 and 10000 (Mac Roman).
const char16_t* CodePageTable(int codepage);
// The Windows-1252 byte for c, or -1 when it has none.
int ToCp1252(char16_t c);
// The code page of a font table \fcharset, or 0 for "the document's".
int CharsetCodePage(int charset);

// The document's page and its \info title and author. They travel beside the QTextDocument
// as its properties: an editor showing the document rewrites its own page size. Sizes in
// twips; -1 where the document gave none.
struct PageSetup {
    int paperWidth = -1, paperHeight = -1;
    int marginLeft = -1, marginRight = -1, marginTop = -1, marginBottom = -1;
    bool landscape = false;
    QString title, author;
    bool operator==(const PageSetup&) const = default;
};
PageSetup PageSetupOf(const QTextDocument& doc);
void SetPageSetup(QTextDocument& doc, const PageSetup& page);

}  // namespace tallimer::rtf
