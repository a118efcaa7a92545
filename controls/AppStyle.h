#pragma once
// The application's style: the desktop's own, with no picture file read through Qt's general
// reader, which loads every image format library installed (gif, jpeg, ico...) when the
// program needs none: the program draws its own pictures. The pictures of a toolbar's overflow
// button are read when the button is painted; the group box frame's picture is read as the
// PNG it is.
#include <QPixmap>
#include <QProxyStyle>

namespace tallimer {

class TAppStyle : public QProxyStyle {
  public:
    // Without a base, the style the desktop asks for, as the application would have had.
    explicit TAppStyle(QStyle* base = nullptr) : QProxyStyle(base) {}
    QIcon standardIcon(StandardPixmap which, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;

  private:
    mutable QPixmap groupBoxFrame_;
};

}  // namespace tallimer
