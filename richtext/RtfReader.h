#pragma once
// RTF into a QTextDocument. Reading never fails: whatever can be read of damaged or hostile
// input is read, without a crash or a hang. Needs no QGuiApplication.
#include <QByteArrayView>

class QTextDocument;

namespace tallimer {

// True when the bytes begin with "{\rtf" (blanks allowed before it).
bool IsRtf(QByteArrayView bytes);

// Replaces the content of doc with the RTF in bytes, or with the bytes as plain text (UTF-8
// when they are valid UTF-8, else Windows-1252; one paragraph a line) when they are not RTF.
void ReadRtf(QByteArrayView bytes, QTextDocument& doc);

}  // namespace tallimer
