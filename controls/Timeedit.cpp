#include "controls/Timeedit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

#include "platform/SystemClock.h"
#include "support/Errors.h"

namespace {

QString TextOf(const tallimer::msTIME& t) {
    return QString::fromStdString(t.ToText());
}

bool Parses(const QString& text) {
    try {
        tallimer::msTIME t;
        t.FromText(text.toStdString());
        return true;
    } catch (const tallimer::ConversionError&) {
        return false;
    }
}

// The input mask that holds `text` whole: the first hour digit optional, as many hour
// positions as the text has (at least two). Empty when no digit mask can hold it.
QString MaskFor(const QString& text, bool readOnly) {
    if (readOnly) return QString();
    // The shape h:mm:ss with one to three hour digits (ASCII), a final line feed allowed. Read
    // by hand: a regular expression here costs its library's start-up on every start.
    QStringView rest(text);
    if (rest.endsWith(QLatin1Char('\n'))) rest.chop(1);
    auto digit = [&](qsizetype i) {
        return i < rest.size() && rest[i] >= QLatin1Char('0') && rest[i] <= QLatin1Char('9');
    };
    qsizetype hourDigits = 0;
    while (hourDigits < 3 && digit(hourDigits)) ++hourDigits;
    const qsizetype h = hourDigits;
    if (h == 0 || rest.size() != h + 6 || rest[h] != QLatin1Char(':') || !digit(h + 1) ||
        !digit(h + 2) || rest[h + 3] != QLatin1Char(':') || !digit(h + 4) || !digit(h + 5))
        return QString();
    hourDigits = std::max<qsizetype>(2, hourDigits);
    return QStringLiteral("0") + QString(hourDigits - 1, QLatin1Char('9')) +
           QStringLiteral(":99:99;_");
}

}  // namespace

TTimeEdit::TTimeEdit(QWidget* parent, const tallimer::Clock* clock)
    : QLineEdit(parent), clock_(clock ? clock : &tallimer::TheSystemClock()) {
    value = 0;
    connect(this, &QLineEdit::textChanged, this, &TTimeEdit::onTextChanged);
    HeureCourante();
}

QString TTimeEdit::GetHeure() const {
    return TextOf(value);
}

void TTimeEdit::SetHeure(const QString& text) {
    showText(text);
    value.FromText(text.toStdString());
    committed_ = value;
}

void TTimeEdit::SetFHeure(tallimer::msTIME time) {
    value = time;
    committed_ = value;
    showText(TextOf(value));
}

void TTimeEdit::SetTotal(tallimer::TotalTime total) {
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(total.totalMs));
    committed_ = value;
    showText(QString::fromStdString(total.ToText()));
}

void TTimeEdit::HeureCourante() {
    value.FromClock(*clock_);
    committed_ = value;
    showText(TextOf(value));
}

void TTimeEdit::showText(const QString& text) {
    // Our own changes must not come back through the change handler.
    struct Guard {
        bool& flag;
        bool before;
        explicit Guard(bool& f) : flag(f), before(f) { flag = true; }
        ~Guard() { flag = before; }
    } guard(settingText_);
    QString mask = MaskFor(text, isReadOnly());
    if (mask != mask_) {
        setInputMask(mask);  // clears the text
        mask_ = mask;
    } else if (this->text() == text) {
        return;  // setting the same text would only lay it out again
    }
    setText(text);
}

void TTimeEdit::onTextChanged(const QString& text) {
    if (settingText_) return;
    try {
        tallimer::msTIME typed;
        typed.FromText(text.toStdString());
        value = typed;
    } catch (const tallimer::ConversionError&) {
        // Half typed: the last valid value stands until the edit is committed.
    }
}

bool TTimeEdit::IsComplete() const {
    return (mask_.isEmpty() || hasAcceptableInput()) && Parses(text());
}

bool TTimeEdit::Commit() {
    if (!IsComplete()) {
        // The blanks as the user sees them: "5_:__:__", never an empty pair of quotes.
        emit conversionFailed(
            QStringLiteral("'%1' n'est pas une durée correcte (hh:mm:ss)").arg(displayText()));
        return false;
    }
    value.FromText(text().toStdString());
    committed_ = value;
    return true;
}

void TTimeEdit::Revert() {
    SetFHeure(committed_);
}

void TTimeEdit::reshow() {
    QString shown = text();
    bool complete = mask_.isEmpty() || hasAcceptableInput();
    showText(complete && Parses(shown) ? shown : TextOf(value));
}

void TTimeEdit::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    // Read-only fields drop the mask so long and negative durations show whole.
    if (event->type() == QEvent::ReadOnlyChange) reshow();
}

void TTimeEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // A window closing takes the focus too: nothing is left to correct then.
    if (isReadOnly() || event->reason() == Qt::PopupFocusReason ||
        event->reason() == Qt::ActiveWindowFocusReason || !window()->isVisible())
        return;
    if (!Commit() && isVisible()) {
        // Back into the field once the focus change is over, unless the window went away.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isVisible() && window()->isVisible()) setFocus(Qt::OtherFocusReason);
            },
            Qt::QueuedConnection);
    }
}

void TTimeEdit::keyPressEvent(QKeyEvent* event) {
    if (!isReadOnly()) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            // A refused text keeps Return from pressing the dialog's default button.
            if (!Commit()) {
                event->accept();
                return;
            }
        } else if (event->key() == Qt::Key_Escape && text() != TextOf(committed_)) {
            // The first Escape undoes the edit; only the next one closes the dialog.
            Revert();
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TTimeEdit::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit clicked();
    QLineEdit::mousePressEvent(event);
}

void TTimeEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit doubleClicked();
    QLineEdit::mouseDoubleClickEvent(event);
}
