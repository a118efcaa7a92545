#include "richtext/RichInvoice.h"

#include <QFile>
#include <QTextBlock>
#include <QTextDocument>

#include "richtext/RtfReader.h"
#include "richtext/RtfWriter.h"
#include "support/Errors.h"
#include "support/FileWrite.h"

namespace tallimer {

void LoadRtfFile(QTextDocument& doc, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw FileError::open(path.toStdString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) throw FileError::open(path.toStdString());
    ReadRtf(bytes, doc);
}

void SaveRtfFile(const QTextDocument& doc, const QString& path, const std::string& dataFolder) {
    const QByteArray bytes = WriteRtf(doc);
    const std::string file = path.toStdString();
    if (!WriteFileAtomically(file, std::string_view(bytes.constData(), bytes.size()), dataFolder))
        throw FileError::create(file);
}

RichInvoice::RichInvoice(QTextDocument* doc, std::string dataFolder)
    : doc_(doc), end_(doc), dataFolder_(std::move(dataFolder)) {}

void RichInvoice::setAppendAttributes(const CharAttributes& attributes) {
    attributes_ = attributes;
}

void RichInvoice::appendParagraph(const std::string& utf8) {
    QString text = QString::fromStdString(utf8);
    text.remove(u'\r');
    end_.movePosition(QTextCursor::End);
    // The text looks like what ends the document, with the attributes asked for; new
    // paragraphs take the last one's settings, so the template's tab stops line them up.
    QTextCharFormat format = end_.charFormat();
    format.setFontWeight(attributes_.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(attributes_.italic);
    format.setFontUnderline(attributes_.underline);
    format.setFontStrikeOut(attributes_.strikeOut);
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
    return doc_->isEmpty() ? 0 : static_cast<std::size_t>(doc_->blockCount());
}

std::string RichInvoice::paragraphText(std::size_t index) const {
    return doc_->findBlockByNumber(static_cast<int>(index)).text().toStdString();
}

void RichInvoice::truncateParagraphs(std::size_t count) {
    if (count >= paragraphCount()) return;
    QTextCursor cut(doc_);
    if (count > 0) {
        const QTextBlock last = doc_->findBlockByNumber(static_cast<int>(count - 1));
        cut.setPosition(last.position() + last.length() - 1);
    }
    cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    doc_->clearUndoRedoStacks();
}

void RichInvoice::saveRtf(const std::string& path) {
    SaveRtfFile(*doc_, QString::fromStdString(path), dataFolder_);
}

void RichInvoice::loadRtf(const std::string& path) {
    LoadRtfFile(*doc_, QString::fromStdString(path));
    // A fresh document starts with plain text, whatever the previous one was left with.
    attributes_ = CharAttributes{};
}

}  // namespace tallimer
