#pragma once
// TTimeEdit: a one-line hh:mm:ss field that keeps an msTIME in step with its text.
//
// Editable, it carries the input mask "09:99:99" (first hour digit optional), widened to three
// hour digits when the text set has them, so a 100-hour value is never cut to two digits. A
// text the mask cannot hold at all (negative parts, free text from SetHeure) is shown without
// a mask. Read-only, it has no mask and shows the text as set (123:45:06, 00:00:0-2).
//
// Typing updates the value at every keystroke. A half-typed text that does not parse ("1::")
// keeps the last valid value, silently: an error box per keystroke would only get in the way.
// When the edit is committed (Return, or the focus leaving the field) and the text still does
// not parse, the field shows the value it holds again and emits conversionFailed with the
// French message, so what the field shows is always what the owner reads.
#include <QLineEdit>
#include <QString>

#include "support/Clock.h"
#include "timevalues/Time.h"

class TTimeEdit : public QLineEdit {
    Q_OBJECT

  public:
    // clock: not owned; nullptr is the system clock.
    explicit TTimeEdit(QWidget* parent = nullptr, const tallimer::Clock* clock = nullptr);

    // The value; windows may read it directly. Writing it does not change the text.
    tallimer::msTIME value;
    tallimer::msTIME Value() const { return value; }

    QString GetHeure() const;
    // Sets the text unchanged, then the value from it; raises tallimer::ConversionError
    // (text set, value unchanged) when the text does not parse.
    void SetHeure(const QString& text);
    void SetFHeure(tallimer::msTIME time);
    // The current time of day, UTC.
    void HeureCourante();
    // Ends an edit in progress: a text that does not parse gives way to the value's text, and
    // an incomplete mask is completed from the value. Called on Return and on focus out.
    void Commit();

  signals:
    void clicked();
    void doubleClicked();
    void conversionFailed(const QString& message);

  protected:
    void changeEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    void showText(const QString& text);
    void onTextChanged(const QString& text);
    void reshow();

    const tallimer::Clock* clock_;
    QString mask_;
    bool settingText_ = false;
};

namespace tallimer {
using ::TTimeEdit;
}
