#pragma once
// TfPrinc, the main window: it owns the accounts, the meter and the components, wires the
// controls to core and shows what core computed. No rule of time or money lives here.
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "accounts/AccountFiles.h"
#include "accounts/Comptes.h"
#include "controls/ImageList.h"
#include "controls/Onlineip.h"
#include "controls/Timeedit.h"
#include "controls/Trayicon.h"
#include "metering/Alerts.h"
#include "metering/Journal.h"
#include "metering/JournalKeeper.h"
#include "metering/Meter.h"
#include "support/Locale.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class QToolBar;

namespace tallimer {

class ConnectionJournal;
class InvoiceDocument;
class TfStats;

// What the window is built on; main.cpp passes the machine's, tests their fakes.
struct PrincDependencies {
    std::string appFolder;  // the data folder, with its trailing separator
    const Clock* clock = nullptr;
    ConnectionNameSource* names = nullptr;
    LinkCounterSource* counters = nullptr;
    TrayShell* trayShell = nullptr;  // null: the desktop's notification area
    // The detector's address list; empty: the machine's own addresses.
    std::function<std::vector<std::string>()> hostAddresses;
};

// The invoice manager as the main window uses it. Empty parts are skipped, so the window
// works before the manager exists.
struct InvoiceDesk {
    std::function<void()> open;         // the toolbar's "Gère les factures"
    std::function<void()> saveRunning;  // writes the running invoice to its file
    // A line and a period closing, each written to the file at once.
    std::function<void(DateTime, msTIME, float)> addLine;
    std::function<void(Account&, const std::string&, DateTime today)> closePeriod;
    // The connection in progress (before the minute save) and its end: its line so far,
    // its account with its name, and the overall totals. The running invoice recovers from
    // a crash through them at the next start.
    using ConnectionRecord = std::function<void(DateTime, msTIME, float, const std::string&,
                                                const Account&, msTIME, float)>;
    ConnectionRecord recordConnection;
    ConnectionRecord endConnection;
    std::function<void()> accountsSaved;
    std::function<void(AccountCollection&, OverallState&)> recover;
};

// The desk of the manager window: OpenFromMainWindow(), SaveRunning() and RunningFile() with
// AddLine and ClosePeriod.
template <class Manager>
InvoiceDesk DeskOf(Manager& manager) {
    return {[&manager] { manager.OpenFromMainWindow(); },
            [&manager] { manager.SaveRunning(); },
            [&manager](DateTime when, msTIME duration, float amount) {
                manager.RunningFile().AddLine(when, duration, amount);
            },
            [&manager](Account& account, const std::string& providerName, DateTime today) {
                manager.RunningFile().ClosePeriod(account, providerName, today);
            },
            [&manager](DateTime when, msTIME duration, float amount, const std::string& name,
                       const Account& account, msTIME overall, float overallCost) {
                manager.RunningFile().RecordConnection(when, duration, amount, name, account,
                                                       overall, overallCost);
            },
            [&manager](DateTime when, msTIME duration, float amount, const std::string& name,
                       const Account& account, msTIME overall, float overallCost) {
                manager.RunningFile().EndConnection(when, duration, amount, name, account, overall,
                                                    overallCost);
            },
            [&manager] { manager.RunningFile().AccountsSaved(); },
            [&manager](AccountCollection& accounts, OverallState& state) {
                manager.RunningFile().Recover(accounts, state);
            }};
}

class TfPrinc : public QWidget, private MeterHost {
    Q_OBJECT
  public:
    // Builds the window and its components, then loads the state and the accounts. Raises
    // the tray icon's error when the desktop refuses the icon.
    explicit TfPrinc(const PrincDependencies& dependencies, QWidget* parent = nullptr);
    ~TfPrinc() override;

    const std::string& AppFolder() const { return appFolder_; }
    Meter& meter() { return meter_; }
    AccountCollection& accounts() { return accounts_; }
    // The connection journal; null when none could be opened.
    ConnectionJournal* journal() {
        keeper();
        return journal_;
    }
    bool askOnExit = true;
    void SetInvoiceDesk(InvoiceDesk desk) { desk_ = std::move(desk); }
    // The journal the statistics window reads; null: the window shows no connection.
    // The connections are then kept in it too.
    void SetJournal(ConnectionJournal* journal) {
        keeper().setJournal(journal);
        journal_ = journal;
    }
    TfStats* statsWindow() const { return stats_; }
    // Once the desk is set at start: what a crash left half done is finished.
    void Recover();

    // The connection lifecycle, through the meter; a Connect or Disconnect also saves.
    void Connect();
    void Disconnect();
    // The tray icon and every field, shown or not.
    void RefreshDisplay();
    // Writes the state file and every account file; false when some could not be written
    // (they are tried again at the next save).
    bool SaveFiles();

    // Handlers, named after their control and event.
    void OnlineIP1Changed(QObject* sender);
    void OnlineIP1Switched(QObject* sender);
    // A switch to another connection, however quick: the running one ends, the next starts.
    void ConnectionSwitched();
    void bnClick();
    void FormActivate();
    void teDureeTotalTotaleClick();
    void teDureeTotalTotaleDblClick();
    // The metering tick: nothing it runs may hold the event loop, so its reports are queued.
    void Timer1Timer();
    void Timer2Timer();
    void SaveTimerTimer();
    void BitBtn1Click();
    void BitBtn2Click();
    void Restaurer1Click();
    void WMShowInstance();
    void SpeedButton1Click();
    void bnAideClick();
    void bnFermerClick();
    void Quitter1Click();
    // The statistics window (tray menu and Ctrl+T), built at its first opening.
    void Statistiques1Click();
    // The desktop's notification area, present at start or joined later.
    void NotificationAreaChanged();

    // Handlers of the dialogs' commands.
    void bnRegleClick();
    void rglages1Click();
    void bnProposClick();
    void teCoutTotalDblClick();
    void tePrixTotalTotalDblClick();
    // Whether a close may proceed: the exit confirmation, unless the user said never to ask.
    bool FormCloseQuery();
    // A close that proceeds: everything is written.
    void FormClose();

    // Ends the program through the saving path without the question (signals, log-off).
    void EndWithoutAsking();
    // Writes everything now, without closing (the desktop session is ending).
    void SaveForSessionEnd();

    // Controls, named as in the window's description.
    QToolBar* ToolBar1;
    QAction* bnGo;
    QAction* bnRegle;
    QAction* BitBtn2;
    QAction* bnPropos;
    QAction* SpeedButton1;
    QAction* bnAide;
    QAction* BitBtn1;
    QAction* bnFermer;
    QLineEdit* teFAI;
    QLineEdit* teIP;
    TTimeEdit* teDuree;
    TTimeEdit* teDureeTotale;
    QLineEdit* teCout;
    QLineEdit* teCoutTotal;
    TTimeEdit* teForfait;
    TTimeEdit* teForfaitTotal;
    TTimeEdit* teDureeTotalTotale;
    QLineEdit* tePrixTotalTotal;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QLabel* Image1;
    QLabel* Image2;
    QLabel* Image3;
    QLabel* Label9;
    QLabel* StatusLine;  // shown only while the desktop has no notification area
    QMenu* PopupMenu1;
    QAction* Restaurer1;
    QAction* rglages1;
    QAction* Statistiques1;
    QAction* Quitter1;
    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* SaveTimer;  // every minute while metering, so a crash loses at most a minute
    TImageList* ImageList1;
    TOnlineIP* OnlineIP1;
    TTrayIcon* TrayIcon1;

  signals:
    // A close has proceeded and everything is saved: the program ends.
    void Closed();

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // MeterHost: what the meter asks of the window.
    void showProviderName(const std::string& name) override;
    void closePeriod(Account& account, const std::string& providerName, DateTime today) override;
    // The metering tick's refresh: the fields only while the window is shown.
    void refreshDisplay() override;
    void showRates(const std::optional<std::string>& received,
                   const std::optional<std::string>& sent) override;
    void addInvoiceLine(DateTime when, msTIME duration, float amount) override;
    void setTickEnabled(bool enabled) override;

    void buildToolBar();
    void buildFields();
    void fitHeight();
    void saveRunningInvoice();
    // The alerts due for the account metered now, each shown once as a notification.
    void checkAlerts();
    // The figures, the picture and the rates, each set only when it changed.
    void refreshFields();
    // The journal's keeper, the journal opened first if it is not yet.
    JournalKeeper& keeper();
    void openJournal();

    std::string appFolder_;
    ConnectionNameSource* names_;
    const Clock* clock_;
    Locale locale_;
    AccountCollection accounts_;
    Meter meter_;
    AlertSettings alerts_;
    std::unique_ptr<ConnectionJournal> ownJournal_;  // the data folder's
    std::unique_ptr<JournalKeeper> journalKeeper_;
    InvoiceDesk desk_;
    ConnectionJournal* journal_ = nullptr;
    TfStats* stats_ = nullptr;
    bool shownOnce_ = false;
    int rateIconShown_ = -1;
    std::optional<QString> receivedRate_;  // the last rates, shown with the window
    std::optional<QString> sentRate_;
    bool closeWithoutQuestion_ = false;
    bool closed_ = false;
};

// The program's main window, created first and alive until the end.
extern TfPrinc* fPrinc;

}  // namespace tallimer
