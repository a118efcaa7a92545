#pragma once
// QTextDocument into RTF 1.x that word processors open: Windows-1252 text, \uN with a '?'
// fallback beyond it, CR LF line ends. What it writes reads back into the same document,
// so writing, reading and writing again gives the same bytes.
#include <QByteArray>
#include <QStringView>

class QTextDocument;

namespace tallimer {

QByteArray WriteRtf(const QTextDocument& doc);
// Text as WriteRtf writes it inside a run.
void AppendRtfText(QByteArray& out, QStringView text);

}  // namespace tallimer
