#include "controls/AppStyle.h"

#include <qdrawutil.h>
#include <QApplication>
#include <QGroupBox>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPointer>
#include <QStyleOption>
#include <algorithm>
#include <functional>

namespace tallimer {
namespace {

// An icon fetched at its first use, then answering as the fetched one does.
class LaterIconEngine final : public QIconEngine {
  public:
    explicit LaterIconEngine(std::function<QIcon()> fetch) : fetch_(std::move(fetch)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const QPaintDevice* device = painter->device();
        const qreal ratio = device ? device->devicePixelRatio() : qApp->devicePixelRatio();
        painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, 1.0, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    // Asking whether there is a picture must not read it.
    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("LaterIconEngine"); }
    QIconEngine* clone() const override { return new LaterIconEngine(*this); }

  private:
    const QIcon& icon() {
        if (fetch_) {
            icon_ = fetch_();
            fetch_ = nullptr;
        }
        return icon_;
    }

    std::function<QIcon()> fetch_;
    QIcon icon_;
};

}  // namespace

QIcon TAppStyle::standardIcon(StandardPixmap which, const QStyleOption* option,
                              const QWidget* widget) const {
    if (which != SP_ToolBarHorizontalExtensionButton && which != SP_ToolBarVerticalExtensionButton)
        return QProxyStyle::standardIcon(which, option, widget);
    // The button may outlive this style; its picture then comes from the style of the day.
    const QPointer<const TAppStyle> self(this);
    const Qt::LayoutDirection direction =
        option ? option->direction : QGuiApplication::layoutDirection();
    return QIcon(new LaterIconEngine([self, which, direction] {
        QStyleOption later;
        later.direction = direction;
        const QStyle* style = self ? self->baseStyle() : QApplication::style();
        return style->standardIcon(which, &later, nullptr);
    }));
}

void TAppStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                              QPainter* painter, const QWidget* widget) const {
    if (element != PE_FrameGroupBox ||
        baseStyle()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // The frame as the desktop style draws it, from the same picture.
    if (groupBoxFrame_.isNull()) {
        QImageReader reader(
            QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png"),
            "png");
        reader.setAutoDetectImageFormat(false);
        groupBoxFrame_ = QPixmap::fromImage(reader.read());
    }
    constexpr int kTopMargin = 3;
    int top = kTopMargin;
    const auto* box = qobject_cast<const QGroupBox*>(widget);
    if (!box || box->isCheckable() || !box->title().isEmpty())
        top += std::max(baseStyle()->pixelMetric(PM_ExclusiveIndicatorHeight),
                        option->fontMetrics.height());
    qDrawBorderPixmap(painter, option->rect.adjusted(0, top, 0, 0), QMargins(6, 6, 6, 6),
                      groupBoxFrame_);
}

}  // namespace tallimer
