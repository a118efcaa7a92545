#pragma once
// The running invoice over a rich-text document, and the RTF file operations of the invoice
// manager.
#include <QMetaObject>
#include <QString>
#include <QTextCursor>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "invoices/InvoiceDocument.h"
#include "richtext/RtfTail.h"
#include "support/FileWrite.h"

class QDeadlineTimer;
class QTextDocument;

namespace tallimer {

class RtfLoader;

// Replaces the content of doc by the file (RTF, or plain text when it is not RTF). A file that
// cannot be read raises FileError::open and leaves doc as it was.
void LoadRtfFile(QTextDocument& doc, const QString& path);
// Writes doc as RTF through the program's atomic write: a failed save leaves the earlier file
// whole. A link at path is written through only to a file inside dataFolder (or path's own
// folder). Raises FileError::create.
void SaveRtfFile(const QTextDocument& doc, const QString& path, const std::string& dataFolder = {});

// A long invoice costs nothing until it is needed: its file is read into the document (and
// laid out, in an editor) only when something asks for its content. Lines appended to a
// file this program wrote are written in place, before its closing brace, so a line costs
// the same however long the invoice is; anything else rewrites the whole file.
class RichInvoice final : public InvoiceDocument {
  public:
    // doc is not owned; dataFolder bounds where links may be written through.
    explicit RichInvoice(QTextDocument* doc, std::string dataFolder = {});
    ~RichInvoice() override;
    RichInvoice(const RichInvoice&) = delete;
    RichInvoice& operator=(const RichInvoice&) = delete;

    // Takes the RTF file at path as the invoice, reading only its end. Raises
    // FileError::open when it cannot be read.
    void openKept(const std::string& path);
    // Reads the invoice into the document if it is not there yet (lines appended since
    // included). Raises FileError::open when its file cannot be read.
    void load();
    // The same a slice of about budget at a time, the document growing at each: true once
    // it is all there. Nothing but the invoice may change the document until then.
    bool loadFor(std::chrono::milliseconds budget);
    bool loaded() const { return loaded_; }

    CharAttributes appendAttributes() const override { return attributes_; }
    void setAppendAttributes(const CharAttributes& attributes) override;
    void appendParagraph(const std::string& utf8) override;
    // Many paragraphs after a document read from another file (a period's closing keeping
    // other accounts' lines) are kept as the writer's bytes, not put in the document, until
    // something needs it.
    void appendParagraphs(const std::vector<std::string>& paragraphs) override;
    std::size_t paragraphCount() const override;
    void truncateParagraphs(std::size_t count) override;
    std::string paragraphText(std::size_t index) const override;
    std::vector<std::size_t> findParagraphs(const std::vector<std::string>& texts) const override;
    void saveRtf(const std::string& path) override;
    void saveRtfWithout(const std::string& path, const std::vector<std::size_t>& leftOut) override;
    bool saveRtfAppended(const std::string& path, const std::vector<std::string>& paragraphs,
                         const CharAttributes& attributes,
                         const std::vector<std::size_t>& leftOut = {}) override;
    void loadRtf(const std::string& path) override;

  private:
    struct Line {
        std::string text;
        CharAttributes attributes;
    };
    void appendToDocument(const std::string& utf8, const CharAttributes& attributes);
    bool keptBytes(std::string& bytes, std::optional<RtfTail>& tail) const;
    QTextDocument& loadedDocument() const;
    bool appendInPlace(const std::string& path);
    void forgetFile();
    void closeKept();
    bool loadUntil(const QDeadlineTimer& deadline);

    QTextDocument* doc_;
    QTextCursor end_;  // kept so that appending costs the same however long the invoice is
    CharAttributes attributes_;
    std::string dataFolder_;
    bool loaded_ = true;
    // The file that holds the invoice but the unsaved lines, while kept_: read from it when
    // not loaded, appended to in place when its end is in the writer's shape.
    bool kept_ = false;
    std::string keptPath_;  // empty while kept in memory, in pending_
    std::optional<std::string> pending_;
    FileStamp keptStamp_;
    std::optional<RtfTail> keptTail_;
    std::vector<Line> unsaved_;
    int keptFd_ = -1;
    std::unique_ptr<RtfLoader> loader_;  // while the kept file is being read
    bool changing_ = false;              // the program's own change, not the user's
    QMetaObject::Connection watch_;
};

}  // namespace tallimer
