#include "controls/WholeText.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

namespace tallimer {

namespace {

constexpr qreal kSmallestPoints = 5;

void Fit(QLineEdit* field) {
    // The window's font is the measure; the field only ever goes below it.
    QFont font = field->parentWidget() ? field->parentWidget()->font() : field->font();
    const int room = TextRoom(field);
    const QString text = field->text();
    while (font.pointSizeF() - 0.5 >= kSmallestPoints &&
           QFontMetrics(font, field).horizontalAdvance(text) > room)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    if (font != field->font()) field->setFont(font);
}

class Fitter : public QObject {
  public:
    explicit Fitter(QLineEdit* field) : QObject(field), field_(field) {
        connect(field, &QLineEdit::textChanged, this, [this] { Fit(field_); });
        field->installEventFilter(this);
        Fit(field);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == field_ && event->type() == QEvent::Resize) Fit(field_);
        return false;
    }

  private:
    QLineEdit* field_;
};

}  // namespace

int TextRoom(const QLineEdit* field) {
    QStyleOptionFrame option;
    option.initFrom(field);
    option.rect = field->contentsRect();
    option.lineWidth = field->hasFrame() ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth,
                                                                       &option, field)
                                         : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    if (field->isReadOnly()) option.state |= QStyle::State_ReadOnly;
    option.features = QStyleOptionFrame::None;
    QRect r = field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field);
    r = r.marginsRemoved(field->textMargins());
    return r.width() - 2 * 2;  // the line edit's own margin on each side
}

void KeepTextWhole(QLineEdit* field) {
    new Fitter(field);
}

}  // namespace tallimer
