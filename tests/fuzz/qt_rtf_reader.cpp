// The RTF reader on anything: no crash, no hang, no sanitizer report, and what it reads
// writes back as RTF that reads into the same document (writing is a fixed point). A line
// appended in place to what was written gives the bytes of the whole document rewritten.
#include <QByteArray>
#include <QTextDocument>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "richtext/RichInvoice.h"
#include "richtext/RtfReader.h"
#include "richtext/RtfTail.h"
#include "richtext/RtfWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    (void)tallimer::ParseRtfTail(input);
    QTextDocument doc;
    tallimer::ReadRtf(input, doc);
    const QByteArray once = tallimer::WriteRtf(doc);
    QTextDocument again;
    tallimer::ReadRtf(once, again);
    if (tallimer::WriteRtf(again) != once) {
        std::fprintf(stderr, "writing what was read is not a fixed point:\n%s\n", once.constData());
        std::abort();
    }
    std::optional<tallimer::RtfTail> tail = tallimer::ParseRtfTail(once);
    if (!tail) return 0;
    tallimer::CharAttributes attributes;
    const unsigned bits = size > 0 ? data[0] : 0;
    attributes.bold = bits & 1;
    attributes.italic = bits & 2;
    attributes.underline = bits & 4;
    attributes.strikeOut = bits & 8;
    const QString line = QString::fromUtf8("\t05 mars 01, {21:07:44}\t\\01:02:09\t12,35 é€");
    const QByteArray inPlace =
        once.chopped(tallimer::kRtfEnd) + tallimer::AppendedParagraphs(tail, line, attributes);
    tallimer::RichInvoice invoice(&again);
    invoice.setAppendAttributes(attributes);
    invoice.appendParagraph(line.toStdString());
    if (tallimer::WriteRtf(again) != inPlace) {
        std::fprintf(stderr, "appending in place differs from rewriting:\n%s\n", once.constData());
        std::abort();
    }
    return 0;
}
