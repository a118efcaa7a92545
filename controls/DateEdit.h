#pragma once
// TDateEdit: a date field with a drop-down calendar that types like a masked field. Each digit
// overwrites the one under the cursor and separators are stepped over, so a section takes its
// two or four digits and the cursor moves on. A date that does not exist (30/02/2027) stays
// as typed until the edit is committed (Return, or the focus leaving): it is then refused,
// never altered; the field keeps the focus and emits conversionFailed. Escape gives back the
// last date committed.
#include <QDate>
#include <QString>
#include <QWidget>

class QCalendarWidget;
class QLineEdit;
class QToolButton;

class TDateEdit : public QWidget {
    Q_OBJECT

  public:
    explicit TDateEdit(QWidget* parent = nullptr);

    QDate date() const { return date_; }
    void setDate(QDate date);
    QString text() const;
    // Day, month and year digits as the format places them ("dd/MM/yyyy").
    void setDisplayFormat(const QString& format);
    QString displayFormat() const { return format_; }
    void setDateRange(QDate min, QDate max);
    QDate minimumDate() const { return min_; }
    QDate maximumDate() const { return max_; }
    void setCalendarPopup(bool enable);
    bool calendarPopup() const;

    // Whether the text is a date of the field's range, without a word to the user.
    bool IsComplete() const;
    // Ends an edit in progress; false, with conversionFailed emitted, when the text is
    // refused.
    bool Commit();
    void Revert();

    QLineEdit* editor() const { return edit_; }
    QToolButton* dropDown() const { return button_; }

  signals:
    void conversionFailed(const QString& message);
    void dateChanged(QDate date);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QDate typedDate() const;
    void showCalendar();

    QLineEdit* edit_;
    QToolButton* button_;
    QCalendarWidget* calendar_ = nullptr;
    QString format_ = QStringLiteral("dd/MM/yyyy");
    QDate date_;
    QDate min_{1, 1, 1};
    QDate max_{9999, 12, 31};
};

namespace tallimer {
using ::TDateEdit;
}
