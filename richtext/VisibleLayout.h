#pragma once
// The running invoice's layout in its editor. A long invoice has a hundred thousand
// paragraphs of which twenty are seen: each is laid out (shaped) when it is drawn, hit or
// asked for, and the others are placed by the height they will have. Placed and drawn as the
// standard layout does for what an invoice holds, paragraphs; a document that comes to hold
// anything else (a table, a list, an image pasted in) goes back to the standard layout.
#include <QAbstractTextDocumentLayout>
#include <vector>

class QTextBlock;

namespace tallimer {

class VisibleLayout final : public QAbstractTextDocumentLayout {
    Q_OBJECT
  public:
    explicit VisibleLayout(QTextDocument* doc);

    void draw(QPainter* painter, const PaintContext& context) override;
    int hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const override;
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override;
    QRectF frameBoundingRect(QTextFrame* frame) const override;
    QRectF blockBoundingRect(const QTextBlock& block) const override;

  protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

  private:
    // Lays the block out when it is not yet at the current width, and puts it at its place.
    void place(const QTextBlock& block, int number) const;
    double top(int number) const;  // of the block's box, its margin above included
    int blockAt(double y) const;
    void setHeight(int number, double height, bool placed) const;
    void rebuildSums() const;
    void resync() const;
    void sizeChanged() const;
    bool holdsOnlyParagraphs();
    QRectF content() const;  // the root frame's inside

    // Per block number: its height (margin above and lines) once laid out, else 0 and the
    // block counts as one of estimate_.
    mutable std::vector<double> height_;
    mutable std::vector<float> gap_;  // the margin above its lines, once laid out
    mutable std::vector<char> placed_;
    mutable std::vector<unsigned> laidAt_;  // the generation it was laid out in
    unsigned generation_ = 1;               // a new one at each new width
    // Fenwick trees of height_ and of the blocks not laid out.
    mutable std::vector<double> sums_;
    mutable std::vector<int> unplaced_;
    mutable double estimate_ = 0;  // as the last paragraph
    mutable double widest_ = 0;    // the right end of the widest line laid out
    mutable bool sizeChangePending_ = false;
    QSizeF lastSize_;
    qsizetype formatsSeen_ = 0;
    bool leaving_ = false;
};

}  // namespace tallimer
