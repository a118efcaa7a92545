#include "controls/LinkLabel.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace tallimer {

namespace {

// Said as a link, named by its address, and followed by a screen reader's "press".
class LinkAccessible : public QAccessibleWidget {
  public:
    explicit LinkAccessible(TLinkLabel* label) : QAccessibleWidget(label, QAccessible::Link) {}
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? static_cast<QLabel*>(widget())->text()
                                      : QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override {
        if (action == pressAction()) emit static_cast<TLinkLabel*>(widget())->clicked();
    }
};

QAccessibleInterface* LinkInterface(const QString& key, QObject* object) {
    if (key == QLatin1String(TLinkLabel::staticMetaObject.className()))
        return new LinkAccessible(static_cast<TLinkLabel*>(object));
    return nullptr;
}

}  // namespace

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::blue);
    setPalette(p);
    setCursor(Qt::PointingHandCursor);
    // The text is an address, never markup.
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::StrongFocus);
    static const bool installed = (QAccessible::installFactory(LinkInterface), true);
    (void)installed;
}

void TLinkLabel::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void TLinkLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    QPainter painter(this);
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
}

void TLinkLabel::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    // A click is a press and a release on the label, as a button counts it.
    bool click = pressed_ && event->button() == Qt::LeftButton &&
                 rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click) emit clicked();
}

}  // namespace tallimer
