#pragma once
// The running invoice as core sees it. The rich-text layer implements it over the invoice
// manager's document; tests use an in-memory fake.
#include <cstddef>
#include <string>
#include <vector>

namespace tallimer {

struct CharAttributes {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    bool operator==(const CharAttributes&) const = default;
};

class InvoiceDocument {
  public:
    virtual ~InvoiceDocument() = default;
    // Attributes of the text appended next.
    virtual CharAttributes appendAttributes() const = 0;
    virtual void setAppendAttributes(const CharAttributes& attributes) = 0;
    // Appends a paragraph at the end; a "\n" inside the text starts a further paragraph.
    virtual void appendParagraph(const std::string& utf8) = 0;
    // Paragraphs in the document, and taking the last ones back out (to undo appends).
    virtual std::size_t paragraphCount() const = 0;
    virtual void truncateParagraphs(std::size_t count) = 0;
    // The text of one paragraph, tabs included, in UTF-8.
    virtual std::string paragraphText(std::size_t index) const = 0;
    // Writes the whole document as RTF, atomically; raises FileError::create on failure.
    virtual void saveRtf(const std::string& path) = 0;
    // The same, leaving out the given paragraphs (indices in ascending order); the document
    // itself keeps them.
    virtual void saveRtfWithout(const std::string& path,
                                const std::vector<std::size_t>& leftOut) = 0;
    // Writes the document with the paragraphs appended as appendParagraph with the attributes
    // would append them, leaving the document itself as it is, when that can be done from the
    // file it is in step with; false otherwise (nothing written). Raises FileError::create.
    virtual bool saveRtfAppended(const std::string& /*path*/,
                                 const std::vector<std::string>& /*paragraphs*/,
                                 const CharAttributes& /*attributes*/) {
        return false;
    }
    // Replaces the whole content from a file (RTF, or plain text when it is not RTF);
    // raises FileError::open and leaves the document as it was on failure.
    virtual void loadRtf(const std::string& path) = 0;
};

}  // namespace tallimer
