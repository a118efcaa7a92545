#pragma once
// What the main window does around its small dialogs, kept out of the window so it is
// tested on its own.
#include "accounts/Comptes.h"
#include "windows/StatsView.h"

class QLineEdit;
class QWidget;

namespace tallimer {

class Session;
class TfConfirm;
class TfModifPrix;

// Correction by hand of the current account's period cost (teCoutTotal) or of the overall
// cost (tePrixTotalTotal). Nothing happens before the first connection of the run. On OK the
// total takes the entered price and the field shows the text as the user typed it, until the
// next display refresh. Returns whether a value was stored.
bool CorrectPeriodCost(Account* currentAccount, TfModifPrix& dialog, QLineEdit& field);
bool CorrectOverallCost(const Account* currentAccount, float& overallCost, TfModifPrix& dialog,
                        QLineEdit& field);

// FormCloseQuery: whether the main window may close. Asks while askOnExit holds; ticking
// "never ask again" clears askOnExit whatever the answer. A refused close hides the window.
bool ConfirmClose(bool& askOnExit, TfConfirm& dialog, QWidget& mainWindow);

// The statistics window, made at its first opening (kept in `stats`), given the session's
// figures and opened. A module that cannot be made is said in a box that waits for nobody.
// The link, when known, tells whether to offer the current account a volume tariff.
void OpenStatistics(StatsView*& stats, const StatsFactory& make, Session& session,
                    MeteredLinkSource* link, QWidget& mainWindow);

}  // namespace tallimer
