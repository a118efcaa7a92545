#include "controls/DateEdit.h"

#include <QCalendarWidget>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

namespace {

bool IsDigitLetter(QChar c) {
    return c == u'd' || c == u'M' || c == u'y';
}

// "dd/MM/yyyy" gives "99/99/9999": every digit required, the separators fixed.
QString MaskOf(const QString& format) {
    QString mask;
    for (QChar c : format) {
        if (IsDigitLetter(c)) {
            mask += u'9';
        } else {
            mask += u'\\';
            mask += c;
        }
    }
    return mask + QStringLiteral(";_");
}

}  // namespace

TDateEdit::TDateEdit(QWidget* parent) : QWidget(parent) {
    edit_ = new QLineEdit(this);
    edit_->setObjectName("editor");
    edit_->installEventFilter(this);
    button_ = new QToolButton(this);
    button_->setObjectName("dropDown");
    button_->setArrowType(Qt::DownArrow);
    button_->setFocusPolicy(Qt::NoFocus);
    connect(button_, &QToolButton::clicked, this, &TDateEdit::showCalendar);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(edit_, 1);
    layout->addWidget(button_);
    setFocusProxy(edit_);
    setFocusPolicy(Qt::StrongFocus);
    edit_->setInputMask(MaskOf(format_));
    setDate(QDate(2000, 1, 1));
}

void TDateEdit::setDate(QDate date) {
    if (!date.isValid()) return;
    date = std::clamp(date, min_, max_);
    const bool changed = date != date_;
    date_ = date;
    edit_->setText(date_.toString(format_));
    if (changed) emit dateChanged(date_);
}

QString TDateEdit::text() const {
    return edit_->displayText();
}

void TDateEdit::setDisplayFormat(const QString& format) {
    bool usable = !format.isEmpty();
    for (QChar c : format)
        if (c.isLetter() && !IsDigitLetter(c)) usable = false;
    // A format with names or single letters is no fixed mask: the field keeps its own.
    if (!usable || format.count(u'd') != 2 || format.count(u'M') != 2 || format.count(u'y') != 4)
        return;
    format_ = format;
    edit_->setInputMask(MaskOf(format_));
    edit_->setText(date_.toString(format_));
}

void TDateEdit::setDateRange(QDate min, QDate max) {
    if (!min.isValid() || !max.isValid() || max < min) return;
    min_ = min;
    max_ = max;
    setDate(date_);
}

void TDateEdit::setCalendarPopup(bool enable) {
    button_->setVisible(enable);
}

bool TDateEdit::calendarPopup() const {
    return !button_->isHidden();
}

QDate TDateEdit::typedDate() const {
    return QDate::fromString(edit_->displayText(), format_);
}

bool TDateEdit::IsComplete() const {
    const QDate d = typedDate();
    return d.isValid() && d >= min_ && d <= max_;
}

bool TDateEdit::Commit() {
    if (!IsComplete()) {
        emit conversionFailed(QStringLiteral("'%1' n'est pas une date correcte").arg(text()));
        return false;
    }
    setDate(typedDate());
    return true;
}

void TDateEdit::Revert() {
    edit_->setText(date_.toString(format_));
}

void TDateEdit::showCalendar() {
    if (!calendar_) {
        calendar_ = new QCalendarWidget(this);
        calendar_->setWindowFlags(Qt::Popup);
        calendar_->setObjectName("calendar");
        connect(calendar_, &QCalendarWidget::clicked, this, [this](QDate d) {
            setDate(d);
            calendar_->hide();
            edit_->setFocus(Qt::PopupFocusReason);
        });
    }
    calendar_->setDateRange(min_, max_);
    calendar_->setSelectedDate(IsComplete() ? typedDate() : date_);
    calendar_->move(mapToGlobal(QPoint(0, height())));
    calendar_->show();
}

bool TDateEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edit_) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress && !edit_->isReadOnly()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            // A refused date keeps Return from pressing the dialog's default button.
            if (!Commit()) return true;
        } else if (key->key() == Qt::Key_Escape &&
                   edit_->displayText() != date_.toString(format_)) {
            // The first Escape undoes the edit; only the next one closes the dialog.
            Revert();
            return true;
        } else if (key->key() == Qt::Key_Down && key->modifiers() & Qt::AltModifier) {
            showCalendar();
            return true;
        }
    }
    if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason &&
            window()->isVisible() && !Commit()) {
            // Back into the field once the focus change is over, unless the window went away.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (isVisible() && window()->isVisible()) edit_->setFocus(Qt::OtherFocusReason);
                },
                Qt::QueuedConnection);
        }
    }
    return QWidget::eventFilter(watched, event);
}
