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
// An edit is committed by Return or by the focus leaving the field. A text with positions
// still blank ("5_:__:__") or that does not parse is refused: the field keeps the text and
// the focus and emits conversionFailed with a French message naming what was typed. Escape
// gives back the value of the last commit.
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
    // A running total, shown whole however long (read-only fields); the value keeps its low
    // 32 bits.
    void SetTotal(tallimer::TotalTime total);
    // The current time of day, UTC.
    void HeureCourante();
    // Ends an edit in progress; false, with conversionFailed emitted, when the text is
    // refused. Called on Return and on focus out.
    bool Commit();
    // Whether the text would be accepted by Commit, without a word to the user.
    bool IsComplete() const;
    // Escape: the text and value of the last commit come back.
    void Revert();

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
    tallimer::msTIME committed_;
    bool settingText_ = false;
};

namespace tallimer {
using ::TTimeEdit;
}
