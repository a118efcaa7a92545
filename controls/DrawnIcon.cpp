#include "controls/DrawnIcon.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>

namespace tallimer {
namespace {

class DrawnIconEngine final : public QIconEngine {
  public:
    DrawnIconEngine(std::vector<int> sizes, bool withOnState, DrawPicture draw)
        : sizes_(std::move(sizes)),
          withOn_(withOnState),
          draw_(std::move(draw)),
          drawn_(2 * sizes_.size(), false) {}

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        if (sizes_.empty()) return QSize();
        const int side = sizes_[pick(size)];
        QSize actual(side, side);
        if (actual.width() > size.width() || actual.height() > size.height())
            actual.scale(size, Qt::KeepAspectRatio);
        return actual;
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        if (sizes_.empty()) return QPixmap();
        draw(pick(size), state);
        // The pictures drawn so far always include the one a full set would choose, so the
        // kept icon chooses it too, and scales and greys it the usual way.
        return kept_.pixmap(size, 1.0, mode, state);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal) override {
        return pixmap(size, mode, state);
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const QPaintDevice* device = painter->device();
        const qreal ratio = device ? device->devicePixelRatio() : qApp->devicePixelRatio();
        painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        QList<QSize> sizes;
        if (mode != QIcon::Normal || (state == QIcon::On && !withOn_)) return sizes;
        for (int side : sizes_) sizes.append(QSize(side, side));
        return sizes;
    }

    bool isNull() override { return sizes_.empty(); }
    QString key() const override { return QStringLiteral("DrawnIconEngine"); }
    QIconEngine* clone() const override { return new DrawnIconEngine(*this); }

  private:
    // The smallest picture that covers the size asked (by area), else the largest; the
    // sizes come in ascending order.
    size_t pick(const QSize& size) const {
        const int wanted = size.width() * size.height();
        for (size_t i = 0; i < sizes_.size(); ++i)
            if (sizes_[i] * sizes_[i] >= wanted) return i;
        return sizes_.size() - 1;
    }

    void draw(size_t index, QIcon::State state) {
        const bool on = withOn_ && state == QIcon::On;
        const size_t slot = 2 * index + (on ? 1 : 0);
        if (drawn_[slot]) return;
        kept_.addPixmap(QPixmap::fromImage(draw_(sizes_[index], on)), QIcon::Normal,
                        on ? QIcon::On : QIcon::Off);
        drawn_[slot] = true;
    }

    std::vector<int> sizes_;
    bool withOn_;
    DrawPicture draw_;
    std::vector<bool> drawn_;
    QIcon kept_;
};

}  // namespace

QIcon DrawnIcon(std::vector<int> sizes, bool withOnState, DrawPicture draw) {
    return QIcon(new DrawnIconEngine(std::move(sizes), withOnState, std::move(draw)));
}

}  // namespace tallimer
