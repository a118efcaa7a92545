#pragma once
// An invoice file as the program writes it, from its paragraphs' texts.
#include <QTextDocument>
#include <string>
#include <vector>

#include "richtext/RichInvoice.h"

namespace tallimer::test {

inline void WriteInvoice(const std::string& path, const std::vector<std::string>& paragraphs) {
    QTextDocument doc;
    RichInvoice invoice(&doc);
    for (const std::string& p : paragraphs) invoice.appendParagraph(p);
    invoice.saveRtf(path);
}

}  // namespace tallimer::test
