#include "windows/DialogFlows.h"

#include <QCheckBox>
#include <QLineEdit>

#include "windows/FNConfirme.h"
#include "windows/FNModifPrix.h"

namespace tallimer {

namespace {

bool CorrectTotal(float& total, TfModifPrix& dialog, QLineEdit& field) {
    dialog.Prix = total;
    if (dialog.exec() != QDialog::Accepted) return false;
    total = dialog.Prix;
    field.setText(dialog.Edit1->text());
    return true;
}

}  // namespace

bool CorrectPeriodCost(Account* currentAccount, TfModifPrix& dialog, QLineEdit& field) {
    if (!currentAccount) return false;
    return CorrectTotal(currentAccount->periodCost, dialog, field);
}

bool CorrectOverallCost(const Account* currentAccount, float& overallCost, TfModifPrix& dialog,
                        QLineEdit& field) {
    if (!currentAccount) return false;
    return CorrectTotal(overallCost, dialog, field);
}

bool ConfirmClose(bool& askOnExit, TfConfirm& dialog, QWidget& mainWindow) {
    if (!askOnExit) return true;
    dialog.CheckBox1->setChecked(false);
    int result = dialog.exec();
    askOnExit = !dialog.CheckBox1->isChecked();
    if (result == QDialog::Accepted) return true;
    mainWindow.hide();
    return false;
}

}  // namespace tallimer
