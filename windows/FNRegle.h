#pragma once
// The account settings dialog: one existing account chosen by provider name, its tariff,
// package and billing schedule edited in place.
#include <QDialog>
#include <QString>
#include <vector>

#include "accounts/Comptes.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QToolButton;
class TDateEdit;
class TTimeEdit;

namespace tallimer {

// The spinner beside an integer edit: reads the edit's text at each step, keeps within
// [min, max] without wrapping around, and writes the new position back as text. The edit
// itself takes any text.
class TUpDown : public QWidget {
    Q_OBJECT
  public:
    TUpDown(QLineEdit* associate, int min, int max, QWidget* parent = nullptr);
    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    void Step(int delta);  // +1 up, -1 down

    QToolButton* upButton;
    QToolButton* downButton;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLineEdit* associate_;
    int min_, max_, position_;
};

class TfRegle : public QDialog {
    Q_OBJECT
  public:
    explicit TfRegle(QWidget* parent = nullptr);
    ~TfRegle() override;

    // Opening, before exec(): lists every account in the collection's order and selects the
    // first whose name equals providerName ignoring letter case, then fills from it.
    void Prepare(AccountCollection& accounts, const QString& providerName);
    // Fills the controls from editedAccount; with none they keep what they show.
    void FormShow();
    // Makes the selected provider's account the edited one and fills from it.
    void cbFAIChange();
    // Stores the controls into editedAccount in a fixed order. A price or period that does
    // not convert raises ConversionError; the fields before it are stored already.
    void BitBtn1Click();  // the "OK" button

    Account* editedAccount = nullptr;

    // Controls, named as in the window's description.
    QComboBox* cbFAI;                 // "Fournisseur d'accès :", the account edited
    QCheckBox* cbForfait;             // "Forfait"
    TTimeEdit* teDureeForfait;        // the package's "Durée (hh:mm:ss) :"
    QLineEdit* tePrixForfait;         // the package's "Prix par période :"
    QGroupBox* RadioGroup1;           // "Type de forfait": Permanent, Nuit, Nuit et Week-end
    QLineEdit* tePrixSec;             // "Prix à la seconde :"
    TTimeEdit* teDureeCredit;         // "Durée du crédit temps :"
    QLineEdit* tePrixCredit;          // "Prix du crédit temps :"
    QLineEdit* tePrixRed;             // "Prix heures creuses :"
    QCheckBox* cbPrimaliste;          // "Primaliste"
    QCheckBox* cbPrimalisteInternet;  // "Primaliste Internet"
    QGroupBox* RadioGroup2;           // "Type de réduction": Soirée, Soir et week-end
    TDateEdit* DateFacture;           // "Prochaine facture :"
    QLineEdit* tePeriode;             // "Périodicité (mois) :"
    TUpDown* UpDown1;                 // its spinner, 1 to 12
    QPushButton* BitBtn1;             // "OK"
    QPushButton* BitBtn2;             // "Annuler"

    // Item index of a radio group as the toolkit keeps it: -1 when none is checked; a value
    // beyond the items selects the last one.
    static int ItemIndex(const QGroupBox* group);
    static void SetItemIndex(QGroupBox* group, int index);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void okClicked();

    std::vector<Account*> references_;  // parallel to the items of cbFAI
};

// The settings dialog, created second at start and alive until the end.
extern TfRegle* fRegle;

}  // namespace tallimer
