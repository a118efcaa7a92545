#pragma once
// RTF into a QTextDocument. Reading never fails: whatever can be read of damaged or hostile
// input is read, without a crash or a hang. Needs no QGuiApplication.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <memory>

class QDeadlineTimer;

class QTextDocument;

namespace tallimer {

// True when the bytes begin with "{\rtf" (blanks allowed before it).
bool IsRtf(QByteArrayView bytes);

// Replaces the content of doc with the RTF in bytes, or with the bytes as plain text (UTF-8
// when they are valid UTF-8, else Windows-1252; one paragraph a line) when they are not RTF.
void ReadRtf(QByteArrayView bytes, QTextDocument& doc);

// The same a slice at a time, so a long file is shown while it is read: the document grows
// at each slice, and nothing else may change it until the end.
class RtfLoader {
  public:
    RtfLoader(QByteArray bytes, QTextDocument& doc);  // empties doc
    ~RtfLoader();
    RtfLoader(const RtfLoader&) = delete;
    RtfLoader& operator=(const RtfLoader&) = delete;
    // Reads on until the deadline; true once the whole file is in the document.
    bool readUntil(const QDeadlineTimer& deadline);

  private:
    struct Parse;
    QByteArray bytes_;
    QTextDocument& doc_;
    bool undo_;
    std::unique_ptr<Parse> parse_;
};

// The text of each paragraph, as the document ReadRtf makes would hold it, without making
// the document: long invoices are read so with little memory.
using RtfParagraphSink = std::function<void(const QString& paragraph)>;
class RtfParagraphReader {
  public:
    RtfParagraphReader(QByteArray bytes, RtfParagraphSink sink);
    ~RtfParagraphReader();
    RtfParagraphReader(const RtfParagraphReader&) = delete;
    RtfParagraphReader& operator=(const RtfParagraphReader&) = delete;
    // Reads on until the deadline; true once every paragraph has gone to the sink.
    bool readUntil(const QDeadlineTimer& deadline);

  private:
    struct Parse;
    QByteArray bytes_;
    RtfParagraphSink sink_;
    std::unique_ptr<Parse> parse_;
    bool done_ = false;
};

}  // namespace tallimer
