#include "richtext/RichInvoice.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QTextBlock>
#include <QTextDocument>

#include <cerrno>
#include <limits>
#include <memory>

#include "richtext/RtfReader.h"
#include "richtext/RtfShared.h"
#include "richtext/RtfWriter.h"
#include "support/Errors.h"

namespace tallimer {

namespace {

// Enough for the last paragraph of any invoice; a longer one is rewritten whole.
constexpr std::size_t kTailBytes = 64 * 1024;

class Changing {
  public:
    explicit Changing(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
    ~Changing() { flag_ = was_; }
    Changing(const Changing&) = delete;
    Changing& operator=(const Changing&) = delete;

  private:
    bool& flag_;
    bool was_;
};

}  // namespace

namespace {

// Text appended to the writer's bytes less their closing brace; false when their end is
// not in its shape.
bool AppendTo(std::string& bytes, std::optional<RtfTail>& tail, const std::string& text,
              const CharAttributes& attributes) {
    if (!tail) return false;
    const QByteArray more = AppendedParagraphs(tail, QString::fromStdString(text), attributes);
    bytes.append(more.constData(), static_cast<std::size_t>(more.size() - kRtfEnd));
    return true;
}

// The paragraph lines of the writer's bytes (less their closing brace), each without its
// "\par" and line end; false when they are not all in its shape.
bool SplitLines(std::string_view bytes, std::optional<RtfHead>& head,
                std::vector<QByteArrayView>& lines) {
    head = ParseRtfHead(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!head) return false;
    constexpr std::string_view kEnd = "\\par\r\n";
    for (std::size_t at = static_cast<std::size_t>(head->body); at < bytes.size();) {
        const std::size_t end = bytes.find("\r\n", at);
        if (end == std::string_view::npos || end - at < 4 ||
            bytes.substr(end - 4, kEnd.size()) != kEnd)
            return false;
        lines.emplace_back(bytes.data() + at, static_cast<qsizetype>(end - 4 - at));
        at = end + 2;
    }
    return true;
}

// Leaves the paragraphs out (indices ascending) as the writer leaves them out of the
// document: each paragraph is a line of its own, so the others keep their bytes, provided
// the fonts and colours they use still come in the tables' order. The first paragraph
// would take the next one's settings: not done. False when it cannot be done.
bool LeaveOut(std::string& bytes, const std::vector<std::size_t>& leftOut) {
    std::optional<RtfHead> head;
    std::vector<QByteArrayView> lines;
    if (!SplitLines(bytes, head, lines) || leftOut.front() == 0 || leftOut.back() >= lines.size())
        return false;
    std::string out = bytes.substr(0, static_cast<std::size_t>(head->body));
    out.reserve(bytes.size());
    int fonts = 1, colors = 0;  // the default font is the first
    RtfLine line;
    auto next = leftOut.begin();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (next != leftOut.end() && *next == i) {
            ++next;
            continue;
        }
        if (!ParseRtfLine(lines[i], line)) return false;
        for (const int f : line.fonts) {
            if (f > fonts) return false;
            fonts += f == fonts;
        }
        for (const int c : line.colors) {
            if (c == 0 || c > colors + 1) return false;
            colors += c == colors + 1;
        }
        out.append(lines[i].data(), static_cast<std::size_t>(lines[i].size()) + 6);
    }
    if (fonts != head->fonts || colors != head->colors) return false;
    bytes = std::move(out);
    return true;
}

QByteArray ReadWhole(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw FileError::open(path.toStdString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) throw FileError::open(path.toStdString());
    return bytes;
}

}  // namespace

void LoadRtfFile(QTextDocument& doc, const QString& path) {
    ReadRtf(ReadWhole(path), doc);
}

void SaveRtfFile(const QTextDocument& doc, const QString& path, const std::string& dataFolder) {
    const QByteArray bytes = WriteRtf(doc);
    const std::string file = path.toStdString();
    if (!WriteFileAtomically(file, std::string_view(bytes.constData(), bytes.size()), dataFolder))
        throw FileError::create(file);
}

RichInvoice::RichInvoice(QTextDocument* doc, std::string dataFolder)
    : doc_(doc), end_(doc), dataFolder_(std::move(dataFolder)) {
    // What the user types in the manager is no line the file can take in place.
    watch_ = QObject::connect(doc_, &QTextDocument::contentsChanged, [this] {
        if (!changing_ && loaded_) forgetFile();
    });
}

RichInvoice::~RichInvoice() {
    QObject::disconnect(watch_);
    loader_.reset();
    closeKept();
}

void RichInvoice::closeKept() {
    if (keptFd_ >= 0) ::close(keptFd_);
    keptFd_ = -1;
}

void RichInvoice::forgetFile() {
    kept_ = false;
    pending_.reset();
    unsaved_.clear();
}

void RichInvoice::openKept(const std::string& path) {
    std::string tail;
    FileStamp stamp;
    if (!ReadFileTail(path, kTailBytes, tail, stamp)) throw FileError::open(path);
    loader_.reset();
    closeKept();
    // Held until the invoice is read: a file deleted meanwhile is still read whole.
    keptFd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    {
        Changing changing(changing_);
        doc_->clear();
        doc_->clearUndoRedoStacks();
    }
    loaded_ = false;
    kept_ = true;
    keptPath_ = path;
    pending_.reset();
    keptStamp_ = stamp;
    keptTail_ = ParseRtfTail(QByteArrayView(tail.data(), static_cast<qsizetype>(tail.size())));
    unsaved_.clear();
    attributes_ = CharAttributes{};
}

void RichInvoice::load() {
    loadUntil(QDeadlineTimer(QDeadlineTimer::Forever));
}

bool RichInvoice::loadFor(std::chrono::milliseconds budget) {
    return loadUntil(QDeadlineTimer(budget));
}

bool RichInvoice::loadUntil(const QDeadlineTimer& deadline) {
    if (loaded_) return true;
    Changing changing(changing_);
    if (!loader_) {
        QByteArray bytes;
        if (pending_) {
            bytes = QByteArray(pending_->data(), static_cast<qsizetype>(pending_->size()));
        } else {
            try {
                bytes = ReadWhole(QString::fromStdString(keptPath_));
            } catch (const FileError&) {
                if (keptFd_ < 0) throw;
                bytes = ReadWhole(QString("/proc/self/fd/%1").arg(keptFd_));
            }
        }
        loader_ = std::make_unique<RtfLoader>(std::move(bytes), *doc_);
    }
    if (!loader_->readUntil(deadline)) return false;
    loader_.reset();
    closeKept();
    loaded_ = true;
    for (const Line& line : unsaved_) appendToDocument(line.text, line.attributes);
    return true;
}

QTextDocument& RichInvoice::loadedDocument() const {
    const_cast<RichInvoice*>(this)->load();
    return *doc_;
}

void RichInvoice::setAppendAttributes(const CharAttributes& attributes) {
    attributes_ = attributes;
}

void RichInvoice::appendParagraph(const std::string& utf8) {
    if (loaded_) appendToDocument(utf8, attributes_);
    if (kept_) unsaved_.push_back({utf8, attributes_});
}

void RichInvoice::appendParagraphs(const std::vector<std::string>& paragraphs) {
    std::size_t i = 0;
    if (loaded_ && !kept_ && paragraphs.size() > 1) {
        // The first takes its look from the document, each next one from the one before,
        // which the bytes tell.
        appendParagraph(paragraphs[i++]);
        const QByteArray bytes = WriteRtf(*doc_);
        if (std::optional<RtfTail> tail = ParseRtfTail(bytes)) {
            Changing changing(changing_);
            doc_->clear();
            doc_->clearUndoRedoStacks();
            loaded_ = false;
            kept_ = true;
            keptPath_.clear();
            pending_ = std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            keptTail_ = tail;
            unsaved_.clear();
        }
    }
    for (; i < paragraphs.size(); ++i) appendParagraph(paragraphs[i]);
}

void RichInvoice::appendToDocument(const std::string& utf8, const CharAttributes& attributes) {
    Changing changing(changing_);
    QString text = QString::fromStdString(utf8);
    text.remove(u'\r');
    end_.movePosition(QTextCursor::End);
    // The text looks like what ends the document, with the attributes asked for; new
    // paragraphs take the last one's settings, so the template's tab stops line them up.
    QTextCharFormat format = end_.charFormat();
    format.setFontWeight(attributes.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(attributes.italic);
    format.setFontUnderline(attributes.underline);
    format.setFontStrikeOut(attributes.strikeOut);
    const QTextBlockFormat blockFormat = end_.blockFormat();
    const bool fillFirst = doc_->isEmpty();
    end_.beginEditBlock();
    qsizetype start = 0;
    for (bool first = true;; first = false) {
        const qsizetype nl = text.indexOf(u'\n', start);
        if (!(first && fillFirst)) end_.insertBlock(blockFormat, format);
        end_.insertText(text.mid(start, nl < 0 ? -1 : nl - start), format);
        if (nl < 0) break;
        start = nl + 1;
    }
    end_.endEditBlock();
    // A line the program wrote is no edit of the user's to undo, and the history must not
    // grow with every line over a run of months.
    doc_->clearUndoRedoStacks();
}

std::size_t RichInvoice::paragraphCount() const {
    const QTextDocument& doc = loadedDocument();
    return doc.isEmpty() ? 0 : static_cast<std::size_t>(doc.blockCount());
}

std::string RichInvoice::paragraphText(std::size_t index) const {
    return loadedDocument().findBlockByNumber(static_cast<int>(index)).text().toStdString();
}

void RichInvoice::truncateParagraphs(std::size_t count) {
    if (count >= paragraphCount()) return;
    forgetFile();
    Changing changing(changing_);
    QTextCursor cut(doc_);
    if (count > 0) {
        const QTextBlock last = doc_->findBlockByNumber(static_cast<int>(count - 1));
        cut.setPosition(last.position() + last.length() - 1);
    }
    cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    doc_->clearUndoRedoStacks();
}

// The unsaved lines written over the file's closing brace. False when the file is not as
// it was left, or its end not in the writer's shape: it is then rewritten whole.
bool RichInvoice::appendInPlace(const std::string& path) {
    std::optional<RtfTail> tail = keptTail_;
    QByteArray bytes;
    for (const Line& line : unsaved_) {
        if (!tail) return false;
        bytes += AppendedParagraphs(tail, QString::fromStdString(line.text), line.attributes);
        bytes.chop(kRtfEnd);
    }
    bytes += "}\r\n";
    FileStamp stamp;
    if (!ReplaceFileTail(
            path, keptStamp_, kRtfEnd,
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), stamp)) {
        if (errno == ESTALE || errno == ELOOP || errno == ENOENT) return false;
        throw FileError::create(path);
    }
    keptStamp_ = stamp;
    keptTail_ = tail;
    unsaved_.clear();
    return true;
}

void RichInvoice::saveRtf(const std::string& path) {
    std::string kept;
    std::optional<RtfTail> tail;
    if (pending_ && keptBytes(kept, tail)) {
        kept += "}\r\n";
        if (!WriteFileAtomically(path, kept, dataFolder_)) throw FileError::create(path);
        FileStamp stamp;
        if (!StampOfFile(path, stamp)) {
            load();
            forgetFile();
            return;
        }
        pending_.reset();
        unsaved_.clear();
        keptPath_ = path;
        keptStamp_ = stamp;
        keptTail_ = tail;
        return;
    }
    if (kept_ && path == keptPath_) {
        FileStamp now;
        if (unsaved_.empty() && StampOfFile(path, now) && now == keptStamp_) return;
        if (!unsaved_.empty() && appendInPlace(path)) return;
    }
    const QByteArray bytes = WriteRtf(loadedDocument());
    if (!WriteFileAtomically(path, std::string_view(bytes.constData(), bytes.size()), dataFolder_))
        throw FileError::create(path);
    forgetFile();
    if (!StampOfFile(path, keptStamp_)) return;
    kept_ = true;
    keptPath_ = path;
    keptTail_ = ParseRtfTail(bytes);
}

void RichInvoice::saveRtfWithout(const std::string& path, const std::vector<std::size_t>& leftOut) {
    // A copy loses them, so the document shown keeps its lines and its undo history.
    std::unique_ptr<QTextDocument> copy(loadedDocument().clone());
    // Its page and title too, which a clone leaves behind: an archive is printed as any other.
    rtf::SetPageSetup(*copy, rtf::PageSetupOf(*doc_));
    QTextCursor cut(copy.get());
    for (auto i = leftOut.rbegin(); i != leftOut.rend(); ++i) {
        const QTextBlock block = copy->findBlockByNumber(static_cast<int>(*i));
        if (!block.isValid()) continue;
        // The paragraph with the break before it: the one before keeps its own settings.
        const int end = block.position() + block.length() - 1;
        if (block.previous().isValid())
            cut.setPosition(block.position() - 1);
        else
            cut.setPosition(block.position());
        cut.setPosition(
            block.previous().isValid() || !block.next().isValid() ? end : block.next().position(),
            QTextCursor::KeepAnchor);
        cut.removeSelectedText();
    }
    const QByteArray bytes = WriteRtf(*copy);
    if (!WriteFileAtomically(path, std::string_view(bytes.constData(), bytes.size()), dataFolder_))
        throw FileError::create(path);
}

// The kept file as it was left (or the bytes kept for it) less its closing brace, and the
// unsaved lines: the bytes the writer gives the document, as appending in place relies on.
// tail is what comes next takes.
bool RichInvoice::keptBytes(std::string& bytes, std::optional<RtfTail>& tail) const {
    if (!kept_ || !keptTail_) return false;
    FileStamp before, after;
    if (pending_)
        bytes = *pending_;
    else if (!ReadFileTail(keptPath_, std::numeric_limits<std::size_t>::max(), bytes, before) ||
             !(before == keptStamp_) || !StampOfFile(keptPath_, after) || !(after == keptStamp_))
        return false;
    if (bytes.size() < static_cast<std::size_t>(kRtfEnd)) return false;
    bytes.resize(bytes.size() - kRtfEnd);
    tail = keptTail_;
    for (const Line& line : unsaved_)
        if (!AppendTo(bytes, tail, line.text, line.attributes)) return false;
    return true;
}

// Each paragraph is a line of the kept bytes, its text as the writer escapes it: a text
// escaped the same is the same text, when it holds nothing the writer drops or merges.
std::vector<std::size_t> RichInvoice::findParagraphs(const std::vector<std::string>& texts) const {
    QHash<QByteArray, std::size_t> index;
    bool plain = true;
    for (std::size_t i = 0; i < texts.size() && plain; ++i) {
        const QString text = QString::fromStdString(texts[i]);
        plain = text.toStdString() == texts[i];
        for (const QChar c : text)
            plain = plain && (c == u'\t' || (c >= u' ' && c != u'\x7f' && c != QChar(0x2028) &&
                                             c != QChar(0x2029) && c != QChar(0xFFFC)));
        QByteArray key;
        AppendRtfText(key, text);
        index.insert(key, i);
    }
    std::string bytes;
    std::optional<RtfTail> tail;
    std::optional<RtfHead> head;
    std::vector<QByteArrayView> lines;
    if (!plain || !keptBytes(bytes, tail) || !SplitLines(bytes, head, lines))
        return InvoiceDocument::findParagraphs(texts);
    std::vector<std::size_t> found;
    found.reserve(lines.size());
    RtfLine line;
    for (const QByteArrayView bytesOfLine : lines) {
        if (!ParseRtfLine(bytesOfLine, line)) return InvoiceDocument::findParagraphs(texts);
        found.push_back(index.value(line.text, npos));
    }
    return found;
}

bool RichInvoice::saveRtfAppended(const std::string& path,
                                  const std::vector<std::string>& paragraphs,
                                  const CharAttributes& attributes,
                                  const std::vector<std::size_t>& leftOut) {
    std::string bytes;
    std::optional<RtfTail> tail;
    if (!keptBytes(bytes, tail)) return false;
    for (const std::string& text : paragraphs)
        if (!AppendTo(bytes, tail, text, attributes)) return false;
    if (!leftOut.empty() && !LeaveOut(bytes, leftOut)) return false;
    bytes += "}\r\n";
    if (!WriteFileAtomically(path, bytes, dataFolder_)) throw FileError::create(path);
    return true;
}

void RichInvoice::loadRtf(const std::string& path) {
    loader_.reset();
    {
        Changing changing(changing_);
        LoadRtfFile(*doc_, QString::fromStdString(path));
    }
    closeKept();
    loaded_ = true;
    forgetFile();
    // A fresh document starts with plain text, whatever the previous one was left with.
    attributes_ = CharAttributes{};
}

}  // namespace tallimer
