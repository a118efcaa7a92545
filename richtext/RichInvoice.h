#pragma once
// The running invoice over a rich-text document, and the RTF file operations of the invoice
// manager.
#include <QString>
#include <QTextCursor>
#include <string>

#include "invoices/InvoiceDocument.h"

class QTextDocument;

namespace tallimer {

// Replaces the content of doc by the file (RTF, or plain text when it is not RTF). A file that
// cannot be read raises FileError::open and leaves doc as it was.
void LoadRtfFile(QTextDocument& doc, const QString& path);
// Writes doc as RTF through the program's atomic write: a failed save leaves the earlier file
// whole. A link at path is written through only to a file inside dataFolder (or path's own
// folder). Raises FileError::create.
void SaveRtfFile(const QTextDocument& doc, const QString& path, const std::string& dataFolder = {});

class RichInvoice final : public InvoiceDocument {
  public:
    // doc is not owned; dataFolder bounds where links may be written through.
    explicit RichInvoice(QTextDocument* doc, std::string dataFolder = {});

    CharAttributes appendAttributes() const override { return attributes_; }
    void setAppendAttributes(const CharAttributes& attributes) override;
    void appendParagraph(const std::string& utf8) override;
    std::size_t paragraphCount() const override;
    void truncateParagraphs(std::size_t count) override;
    std::string paragraphText(std::size_t index) const override;
    void saveRtf(const std::string& path) override;
    void loadRtf(const std::string& path) override;

  private:
    QTextDocument* doc_;
    QTextCursor end_;  // kept so that appending costs the same however long the invoice is
    CharAttributes attributes_;
    std::string dataFolder_;
};

}  // namespace tallimer
