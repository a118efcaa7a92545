#include "windows/DialogFlows.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>

#include "metering/Session.h"
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

void OpenStatistics(StatsView*& stats, const StatsFactory& make, Session& session,
                    MeteredLinkSource* link, QWidget& mainWindow) {
    if (!stats) {
        QString why = "module introuvable";
        if (make) stats = make(&mainWindow, why);
        if (!stats) {
            auto* box =
                new QMessageBox(QMessageBox::Warning, QApplication::applicationDisplayName(),
                                "Les statistiques ne peuvent pas s'ouvrir\u00A0: " + why + ".",
                                QMessageBox::Ok, &mainWindow);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
            return;
        }
    }
    stats->SetAlertSettings(&session.alerts(), [&session] { return session.saveAlerts(); });
    stats->SetVolumeBook(
        &session.volumes(), [&session] { return session.saveVolumes(); }, link);
    stats->Prepare(session.journal(), session.accounts(), session.meter().providerName(),
                   session.now(), session.locale());
    stats->Open();
}

}  // namespace tallimer
