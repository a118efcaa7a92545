// The RTF reader on anything: no crash, no hang, no sanitizer report, and what it reads
// writes back as RTF that reads into the same document (writing is a fixed point).
#include <QByteArray>
#include <QTextDocument>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "richtext/RtfReader.h"
#include "richtext/RtfWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QTextDocument doc;
    tallimer::ReadRtf(QByteArrayView(data, static_cast<qsizetype>(size)), doc);
    const QByteArray once = tallimer::WriteRtf(doc);
    QTextDocument again;
    tallimer::ReadRtf(once, again);
    if (tallimer::WriteRtf(again) != once) {
        std::fprintf(stderr, "writing what was read is not a fixed point:\n%s\n", once.constData());
        std::abort();
    }
    return 0;
}
