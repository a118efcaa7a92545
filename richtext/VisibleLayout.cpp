#include "richtext/VisibleLayout.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <algorithm>

namespace tallimer {

namespace {

// Right and left swap in a right-to-left paragraph unless absolute.
Qt::Alignment Visual(Qt::LayoutDirection direction, Qt::Alignment alignment) {
    if (!(alignment & Qt::AlignHorizontal_Mask)) alignment |= Qt::AlignLeft;
    if (!(alignment & Qt::AlignAbsolute) && (alignment & (Qt::AlignLeft | Qt::AlignRight))) {
        if (direction == Qt::RightToLeft) alignment ^= (Qt::AlignLeft | Qt::AlignRight);
        alignment |= Qt::AlignAbsolute;
    }
    return alignment;
}

// As the standard layout: lengths in the document are at 96 dpi.
qreal Scale(const QPaintDevice* device) {
    return device && device->logicalDpiY() != 96 ? device->logicalDpiY() / 96.0 : 1.0;
}

}  // namespace

VisibleLayout::VisibleLayout(QTextDocument* doc) : QAbstractTextDocumentLayout(doc) {
    resync();
}

QRectF VisibleLayout::content() const {
    const QTextFrameFormat frame = document()->rootFrame()->frameFormat();
    const qreal inset = frame.border() + frame.padding();
    const qreal left = frame.leftMargin() + inset;
    const qreal top = frame.topMargin() + inset;
    const qreal width = document()->pageSize().width();
    return QRectF(left, top, std::max<qreal>(0, width - left - frame.rightMargin() - inset), 0);
}

void VisibleLayout::resync() const {
    const int count = document()->blockCount();
    if (estimate_ <= 0) estimate_ = QFontMetricsF(document()->defaultFont()).lineSpacing();
    height_.assign(static_cast<std::size_t>(count), 0);
    gap_.assign(static_cast<std::size_t>(count), 0);
    placed_.assign(static_cast<std::size_t>(count), 0);
    laidAt_.assign(static_cast<std::size_t>(count), 0);
    rebuildSums();
    if (count > 0) place(document()->lastBlock(), count - 1);
}

void VisibleLayout::rebuildSums() const {
    const std::size_t n = height_.size();
    sums_.assign(n + 1, 0);
    unplaced_.assign(n + 1, 0);
    for (std::size_t i = 1; i <= n; ++i) {
        sums_[i] += height_[i - 1];
        unplaced_[i] += placed_[i - 1] ? 0 : 1;
        const std::size_t parent = i + (i & (~i + 1));
        if (parent <= n) {
            sums_[parent] += sums_[i];
            unplaced_[parent] += unplaced_[i];
        }
    }
}

void VisibleLayout::setHeight(int number, double height, bool placed) const {
    const auto i = static_cast<std::size_t>(number);
    const double change = height - height_[i];
    const int count = (placed ? 0 : 1) - (placed_[i] ? 0 : 1);
    height_[i] = height;
    placed_[i] = placed ? 1 : 0;
    if (change == 0 && count == 0) return;
    for (std::size_t k = i + 1; k < sums_.size(); k += k & (~k + 1)) {
        sums_[k] += change;
        unplaced_[k] += count;
    }
    sizeChanged();
}

double VisibleLayout::top(int number) const {
    double sum = 0;
    int unplaced = 0;
    for (auto k = static_cast<std::size_t>(number); k > 0; k -= k & (~k + 1)) {
        sum += sums_[k];
        unplaced += unplaced_[k];
    }
    return content().top() + sum + unplaced * estimate_;
}

int VisibleLayout::blockAt(double y) const {
    const std::size_t n = height_.size();
    if (n == 0) return -1;
    double rest = y - content().top();
    std::size_t at = 0;
    std::size_t step = 1;
    while (step * 2 <= n) step *= 2;
    for (; step > 0; step /= 2) {
        if (at + step > n) continue;
        const double span = sums_[at + step] + unplaced_[at + step] * estimate_;
        if (span <= rest) {
            at += step;
            rest -= span;
        }
    }
    return static_cast<int>(std::min(at, n - 1));
}

void VisibleLayout::sizeChanged() const {
    if (sizeChangePending_) return;
    sizeChangePending_ = true;
    // Told after the paint or the hit that placed the block, never inside it.
    QMetaObject::invokeMethod(
        const_cast<VisibleLayout*>(this),
        [this] {
            sizeChangePending_ = false;
            const QSizeF size = documentSize();
            auto* self = const_cast<VisibleLayout*>(this);
            if (size == lastSize_) return;
            self->lastSize_ = size;
            emit self->documentSizeChanged(size);
            emit self->update();
        },
        Qt::QueuedConnection);
}

void VisibleLayout::place(const QTextBlock& block, int number) const {
    const auto i = static_cast<std::size_t>(number);
    QTextLayout* layout = block.layout();
    const QRectF inside = content();
    const QTextBlockFormat format = block.blockFormat();
    const qreal scale = Scale(paintDevice());
    const qreal indent = format.indent() * document()->indentWidth() * scale;
    const Qt::LayoutDirection direction = block.textDirection();
    const qreal leftMargin = format.leftMargin() + (direction == Qt::LeftToRight ? indent : 0);
    const qreal rightMargin = format.rightMargin() + (direction == Qt::RightToLeft ? indent : 0);
    if (!placed_[i] || laidAt_[i] != generation_ || layout->lineCount() == 0) {
        double height = 0;
        qreal gap = 0;
        if (block.isVisible()) {
            QTextOption option = document()->defaultTextOption();
            option.setTextDirection(direction);
            option.setTabs(format.tabPositions());
            Qt::Alignment align = option.alignment();
            if (format.hasProperty(QTextFormat::BlockAlignment)) align = format.alignment();
            option.setAlignment(Visual(direction, align));
            if (format.nonBreakableLines() || document()->pageSize().width() < 0)
                option.setWrapMode(QTextOption::ManualWrap);
            layout->setTextOption(option);
            const qreal width = inside.width() - leftMargin - rightMargin;
            const qreal textIndent = format.textIndent();
            qreal y = 0;
            layout->beginLayout();
            for (bool first = true;; first = false) {
                QTextLine line = layout->createLine();
                if (!line.isValid()) break;
                line.setLeadingIncluded(true);
                const qreal shift = first ? textIndent : 0;
                line.setLineWidth(std::max<qreal>(0, width - shift));
                line.setPosition(QPointF(direction == Qt::LeftToRight ? shift : 0, y));
                y += line.height();
                widest_ = std::max(widest_, inside.left() + leftMargin + line.x() +
                                                line.naturalTextWidth() + rightMargin);
            }
            layout->endLayout();
            const QTextBlock previous = block.previous();
            gap = format.topMargin();
            if (previous.isValid()) gap = std::max(gap, previous.blockFormat().bottomMargin());
            gap *= scale;
            height = gap + y;
            // The last paragraph is the latest invoice line: the others are like it.
            if (number + 1 == static_cast<int>(height_.size()) && estimate_ != height) {
                estimate_ = height;
                sizeChanged();
            }
        }
        gap_[i] = static_cast<float>(gap);
        laidAt_[i] = generation_;
        setHeight(number, height, true);
    }
    layout->setPosition(QPointF(inside.left() + leftMargin, top(number) + gap_[i]));
}

QSizeF VisibleLayout::documentSize() const {
    if (height_.size() != static_cast<std::size_t>(document()->blockCount())) resync();
    const QTextFrameFormat frame = document()->rootFrame()->frameFormat();
    const qreal inset = frame.border() + frame.padding();
    const qreal last = document()->lastBlock().blockFormat().bottomMargin();
    const qreal height = top(static_cast<int>(height_.size())) + last * Scale(paintDevice()) +
                         frame.bottomMargin() + inset;
    const qreal width =
        std::max(document()->pageSize().width(), widest_ + frame.rightMargin() + inset);
    return QSizeF(width, height);
}

QRectF VisibleLayout::frameBoundingRect(QTextFrame* frame) const {
    if (frame != document()->rootFrame()) return QRectF();
    return QRectF(QPointF(0, 0), documentSize());
}

QRectF VisibleLayout::blockBoundingRect(const QTextBlock& block) const {
    if (!block.isValid() || !block.isVisible()) return QRectF();
    if (height_.size() != static_cast<std::size_t>(document()->blockCount())) resync();
    place(block, block.blockNumber());
    const QTextLayout* layout = block.layout();
    QRectF rect = layout->boundingRect();
    rect.moveTopLeft(layout->position());
    return rect;
}

int VisibleLayout::hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const {
    if (height_.size() != static_cast<std::size_t>(document()->blockCount())) resync();
    const int number = blockAt(point.y());
    if (number < 0) return -1;
    const QTextBlock block = document()->findBlockByNumber(number);
    place(block, number);
    const QTextLayout* layout = block.layout();
    const QPointF at = point - layout->position();
    for (int l = 0; l < layout->lineCount(); ++l) {
        const QTextLine line = layout->lineAt(l);
        if (at.y() >= line.y() + line.height() && l + 1 < layout->lineCount()) continue;
        if (accuracy == Qt::ExactHit && !line.naturalTextRect().contains(at)) return -1;
        return block.position() + line.xToCursor(at.x());
    }
    return accuracy == Qt::ExactHit ? -1 : block.position();
}

void VisibleLayout::draw(QPainter* painter, const PaintContext& context) {
    if (height_.size() != static_cast<std::size_t>(document()->blockCount())) resync();
    const QSizeF size = documentSize();
    const QRectF clip = context.clip.isValid() ? context.clip : QRectF(QPointF(0, 0), size);
    const QBrush background = document()->rootFrame()->frameFormat().background();
    if (background.style() != Qt::NoBrush) painter->fillRect(clip, background);
    const int cursorWidth = property("cursorWidth").isValid() ? property("cursorWidth").toInt() : 1;
    int number = blockAt(clip.top());
    if (number < 0) return;
    for (QTextBlock block = document()->findBlockByNumber(number); block.isValid();
         block = block.next(), ++number) {
        if (top(number) > clip.bottom()) break;
        if (!block.isVisible()) continue;
        place(block, number);
        QTextLayout* layout = block.layout();
        const QBrush fill = block.blockFormat().background();
        if (fill.style() != Qt::NoBrush) {
            QRectF box = layout->boundingRect();
            box.moveTopLeft(layout->position());
            painter->fillRect(box, fill);
        }
        const int start = block.position();
        const int length = block.length();
        QList<QTextLayout::FormatRange> selections;
        for (const Selection& selection : context.selections) {
            const int from = std::max(selection.cursor.selectionStart() - start, 0);
            const int to = std::min(selection.cursor.selectionEnd() - start, length);
            if (from >= to) continue;
            QTextLayout::FormatRange range;
            range.start = from;
            range.length = to - from;
            range.format = selection.format;
            selections.append(range);
        }
        painter->setPen(context.palette.color(QPalette::Text));
        layout->draw(painter, QPointF(), selections, clip);
        if (context.cursorPosition >= start && context.cursorPosition < start + length)
            layout->drawCursor(painter, QPointF(), context.cursorPosition - start, cursorWidth);
    }
}

bool VisibleLayout::holdsOnlyParagraphs() {
    if (!document()->rootFrame()->childFrames().isEmpty()) return false;
    const QList<QTextFormat> formats = document()->allFormats();
    for (qsizetype i = formatsSeen_; i < formats.size(); ++i) {
        if (formats[i].isListFormat() || formats[i].isImageFormat()) return false;
    }
    formatsSeen_ = formats.size();
    return true;
}

void VisibleLayout::documentChanged(int from, int charsRemoved, int charsAdded) {
    Q_UNUSED(charsRemoved);
    QTextDocument* doc = document();
    if (!leaving_ && !holdsOnlyParagraphs()) {
        leaving_ = true;
        // Not from inside our own call: the document deletes the layout it replaces.
        QMetaObject::invokeMethod(
            doc, [doc] { doc->setDocumentLayout(nullptr); }, Qt::QueuedConnection);
    }
    const int count = doc->blockCount();
    const int delta = count - static_cast<int>(height_.size());
    const QTextBlock first = doc->findBlock(from);
    const QTextBlock last = doc->findBlock(std::max(from, from + charsAdded - 1));
    const int firstNumber = first.isValid() ? first.blockNumber() : count - 1;
    const int lastNumber = last.isValid() ? last.blockNumber() : count - 1;
    if (firstNumber <= 0 && lastNumber >= count - 1) {
        // The whole document, or a new width: every block is laid out again when seen.
        if (delta != 0) resync();
        ++generation_;
        widest_ = 0;
    } else {
        // Blocks firstNumber..lastNumber - delta became firstNumber..lastNumber; the block
        // after them may have a margin above that the change altered.
        const auto at = static_cast<std::ptrdiff_t>(firstNumber);
        if (delta > 0) {
            height_.insert(height_.begin() + at, static_cast<std::size_t>(delta), 0);
            gap_.insert(gap_.begin() + at, static_cast<std::size_t>(delta), 0.f);
            placed_.insert(placed_.begin() + at, static_cast<std::size_t>(delta), 0);
            laidAt_.insert(laidAt_.begin() + at, static_cast<std::size_t>(delta), 0u);
        } else if (delta < 0) {
            height_.erase(height_.begin() + at, height_.begin() + at - delta);
            gap_.erase(gap_.begin() + at, gap_.begin() + at - delta);
            placed_.erase(placed_.begin() + at, placed_.begin() + at - delta);
            laidAt_.erase(laidAt_.begin() + at, laidAt_.begin() + at - delta);
        }
        if (delta != 0) rebuildSums();
        for (int n = firstNumber; n <= std::min(lastNumber + 1, count - 1); ++n)
            setHeight(n, 0, false);
    }
    if (height_.size() != static_cast<std::size_t>(count)) resync();
    sizeChanged();
    emit update(QRectF(0, top(std::max(firstNumber, 0)), 1e9, 1e9));
}

}  // namespace tallimer
