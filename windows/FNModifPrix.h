#pragma once
// The price correction dialog: the caller sets Prix, runs the dialog, and after OK reads
// Prix and the text the user left in Edit1.
#include <QDialog>
#include <functional>

class QFont;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tallimer {

class TfModifPrix : public QDialog {
    Q_OBJECT
  public:
    explicit TfModifPrix(QWidget* parent = nullptr);
    ~TfModifPrix() override;

    // Shows Prix in Edit1 as an invoice amount.
    void FormActivate();
    // Reads Edit1 in the user's conventions: on success Prix takes the value and the dialog
    // closes with OK; otherwise the user is told and the dialog stays open.
    void BitBtn1Click();  // the "OK" button

    // The width a window manager's title bar needs for this caption: the window icon, the
    // caption in bold and the buttons a common manager puts there whatever the hints ask.
    static int TitleBarWidth(const QString& caption, const QFont& font);

    // How the "not a number" message is shown; a modal box by default, a recorder in tests.
    std::function<void(const QString&)> showMessage;

    float Prix = 0;

    // Controls, named as in the window's description.
    QLabel* Label1;        // "Entrer la nouvelle valeur du prix :"
    QLineEdit* Edit1;      // the new price
    QPushButton* BitBtn1;  // "OK"
    QPushButton* BitBtn2;  // "Annuler"

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
};

// The price correction dialog, created fifth at start and alive until the end.
extern TfModifPrix* fModifPrix;

}  // namespace tallimer
