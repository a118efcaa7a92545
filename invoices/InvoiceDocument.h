#pragma once
// The running invoice as core sees it. The rich-text layer implements it over the invoice
// manager's document; tests use an in-memory fake.
#include <cstddef>
#include <map>
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
    // The same for each, in order.
    virtual void appendParagraphs(const std::vector<std::string>& paragraphs) {
        for (const std::string& text : paragraphs) appendParagraph(text);
    }
    // Paragraphs in the document, and taking the last ones back out (to undo appends).
    virtual std::size_t paragraphCount() const = 0;
    virtual void truncateParagraphs(std::size_t count) = 0;
    // The text of one paragraph, tabs included, in UTF-8.
    virtual std::string paragraphText(std::size_t index) const = 0;
    // For each paragraph in order, the index in texts (all different) of its text, or npos.
    virtual std::vector<std::size_t> findParagraphs(const std::vector<std::string>& texts) const {
        std::map<std::string, std::size_t> index;
        for (std::size_t i = 0; i < texts.size(); ++i) index.emplace(texts[i], i);
        std::vector<std::size_t> found;
        for (std::size_t i = 0, n = paragraphCount(); i < n; ++i) {
            const auto it = index.find(paragraphText(i));
            found.push_back(it == index.end() ? npos : it->second);
        }
        return found;
    }
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    // Writes the whole document as RTF, atomically; raises FileError::create on failure.
    virtual void saveRtf(const std::string& path) = 0;
    // The same, leaving out the given paragraphs (indices in ascending order); the document
    // itself keeps them.
    virtual void saveRtfWithout(const std::string& path,
                                const std::vector<std::size_t>& leftOut) = 0;
    // Writes the document with the paragraphs appended as appendParagraph with the attributes
    // would append them, but those left out (as saveRtfWithout), leaving the document itself
    // as it is, when that can be done from the file it is in step with; false otherwise
    // (nothing written). Raises FileError::create.
    virtual bool saveRtfAppended(const std::string& /*path*/,
                                 const std::vector<std::string>& /*paragraphs*/,
                                 const CharAttributes& /*attributes*/,
                                 const std::vector<std::size_t>& /*leftOut*/ = {}) {
        return false;
    }
    // Replaces the whole content from a file (RTF, or plain text when it is not RTF);
    // raises FileError::open and leaves the document as it was on failure.
    virtual void loadRtf(const std::string& path) = 0;
};

}  // namespace tallimer
