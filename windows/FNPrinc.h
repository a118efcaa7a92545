#pragma once
// TfPrinc, the main window: it owns the metering session and the components, shows what the
// session computed and forwards the user's commands. No rule of time or money lives here.
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "controls/ImageList.h"
#include "controls/Onlineip.h"
#include "controls/Timeedit.h"
#include "controls/Trayicon.h"
#include "metering/Session.h"
#include "windows/StatsView.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class QToolBar;

namespace tallimer {

// What the window is built on; main.cpp passes the machine's, tests their fakes.
struct PrincDependencies {
    std::string appFolder;  // the data folder, with its trailing separator
    const Clock* clock = nullptr;
    ConnectionNameSource* names = nullptr;
    LinkCounterSource* counters = nullptr;
    TrayShell* trayShell = nullptr;  // null: the desktop's notification area
    // The detector's address list; empty: the machine's own addresses.
    std::function<std::vector<std::string>()> hostAddresses;
    // Makes the statistics window at its first opening; null: it cannot be opened.
    StatsFactory stats = {};
    // Whether the desktop marks the link as metered; null: no volume tariff is offered.
    MeteredLinkSource* meteredLink = nullptr;
    // The data folder as read ahead (taken over by the window); null: the window reads it.
    DataRead* dataRead = nullptr;
    // The TCP sockets' counters; null: no application's bytes told apart.
    SocketCounterSource* sockets = nullptr;
};

class TfPrinc : public QWidget, private SessionHost {
    Q_OBJECT
  public:
    // Builds the window and its components, then loads the state and the accounts. Raises
    // the tray icon's error when the desktop refuses the icon.
    explicit TfPrinc(const PrincDependencies& dependencies, QWidget* parent = nullptr);
    ~TfPrinc() override;

    // What the window shows; the command line and the desktop's bus read it too.
    Session& session() { return session_; }
    const std::string& AppFolder() const { return session_.appFolder(); }
    Meter& meter() { return session_.meter(); }
    AccountCollection& accounts() { return session_.accounts(); }
    // The connection journal; null when none could be opened.
    ConnectionJournal* journal() { return session_.journal(); }
    // The invoice manager; null: none yet, its calls are skipped. It must outlive the window's
    // use of it.
    void SetInvoiceDesk(InvoiceDesk* desk) { session_.setInvoiceDesk(desk); }
    // The journal the statistics window reads; null: the window shows no connection.
    // The connections are then kept in it too.
    void SetJournal(ConnectionJournal* journal) { session_.setJournal(journal); }
    StatsView* statsWindow() const { return stats_; }
    // Whether the invoices' history is still being taken into a new journal.
    bool importingHistory() const { return session_.importingHistory(); }
    // Once the desk is set at start: what a crash left half done is finished.
    void Recover() { session_.recover(); }

    // The connection lifecycle, through the meter; a Connect or Disconnect also saves.
    void Connect();
    void Disconnect();
    // The tray icon and every field, shown or not.
    void RefreshDisplay();
    // Writes the state file and every account file; false when some could not be written
    // (they are tried again at the next save).
    bool SaveFiles() { return session_.saveFiles(); }

    // Handlers, named after their control and event.
    void OnlineIP1Changed(QObject* sender);    // the machine went on line or off line
    void OnlineIP1IPChanged(QObject* sender);  // on line still, under another address
    // A switch to another connection, however quick: the running one ends, the next starts.
    void ConnectionSwitched();
    void bnClick();                     // the toolbar's first button, pressed or released
    void FormActivate();                // the window comes to the front
    void teDureeTotalTotaleClick();     // a click on the overall duration: shows 00:00:00
    void teDureeTotalTotaleDblClick();  // a double-click on it: the overall duration restarts
    // The metering tick: nothing it runs may hold the event loop, so its reports are queued.
    void Timer1Timer();
    void Timer2Timer();        // just after the first show: the window hides
    void SaveTimerTimer();     // every minute while metering
    void BitBtn1Click();       // the "Réduire" button
    void BitBtn2Click();       // the "Gère les factures" button: the invoice manager
    void Restaurer1Click();    // the menu's "Restaurer"
    void WMShowInstance();     // a second start asks this copy to show itself
    void SpeedButton1Click();  // the "Bloque la fenêtre en premier plan" toggle
    void bnAideClick();        // the "Aide en ligne" button
    void bnFermerClick();      // the "Fermer" button
    void Quitter1Click();      // the menu's "Quitter"
    // The statistics window (tray menu and Ctrl+T), built at its first opening.
    void Statistiques1Click();
    // The desktop's notification area, present at start or joined later.
    void NotificationAreaChanged();

    // The small dialogs (fRegle, AboutBox, fModifPrix, fConfirm) are made at their first use,
    // as this window's children, and kept. Left off (the window tested alone), a command whose
    // dialog was not made beforehand does nothing.
    void MakeDialogsOnDemand() { dialogsOnDemand_ = true; }

    // Handlers of the dialogs' commands.
    void bnRegleClick();              // the "Réglages" button: the account settings
    void rglages1Click();             // the menu's "Réglages"
    void bnProposClick();             // the "A propos..." button: the about box
    void teCoutTotalDblClick();       // a double-click on the period's cost: its correction
    void tePrixTotalTotalDblClick();  // a double-click on the overall cost: its correction
    // Whether a close may proceed: the exit confirmation, unless the user said never to ask.
    bool FormCloseQuery();
    // A close that proceeds: everything is written.
    void FormClose();

    // Ends the program through the saving path without the question (signals, log-off).
    void EndWithoutAsking();
    // Writes everything now, without closing (the desktop session is ending).
    void SaveForSessionEnd();

    // Controls, named as in the window's description.
    QToolBar* ToolBar1;         // the toolbar across the top
    QAction* bnGo;              // its first button, a toggle: metering started and stopped by hand
    QAction* bnRegle;           // "Réglages"
    QAction* BitBtn2;           // "Gère les factures"
    QAction* bnPropos;          // "A propos..."
    QAction* SpeedButton1;      // "Bloque la fenêtre en premier plan", a toggle
    QAction* bnAide;            // "Aide en ligne"
    QAction* BitBtn1;           // "Réduire"
    QAction* bnFermer;          // "Fermer"
    QLineEdit* teFAI;           // "FAI :", the provider's name
    QLineEdit* teIP;            // "IP :", the address in use
    TTimeEdit* teDuree;         // "Durée :", the connection's duration
    TTimeEdit* teDureeTotale;   // beside it, the account's duration in the period
    QLineEdit* teCout;          // "Coût :", the connection's cost
    QLineEdit* teCoutTotal;     // beside it, the account's cost in the period
    TTimeEdit* teForfait;       // "Forfait :", the package time left
    TTimeEdit* teForfaitTotal;  // beside it, the package's full time
    TTimeEdit* teDureeTotalTotale;  // the "Total" box's "Durée :", over all accounts
    QLineEdit* tePrixTotalTotal;    // the "Total" box's "Coût :", over all accounts
    QLineEdit* Edit1;               // the received rate field
    QLineEdit* Edit2;               // the sent rate field
    QLabel* Image1;                 // the rate picture: off line, normal, reduced or package
    QLabel* Image2;                 // the down arrow beside the received rate
    QLabel* Image3;                 // the up arrow beside the sent rate
    QLabel* Label9;                 // "kO/s", under the rates
    QLabel* StatusLine;             // shown only while the desktop has no notification area
    QMenu* PopupMenu1;              // the notification icon's menu
    QAction* Restaurer1;            // "Restaurer", the menu's default
    QAction* rglages1;              // "Réglages"
    QAction* Statistiques1;         // "Statistiques"
    QAction* Quitter1;              // "Quitter"
    QTimer* Timer1;                 // the one-second metering tick
    QTimer* Timer2;                 // once, just after the first show, to hide the window
    QTimer* SaveTimer;       // every minute while metering, so a crash loses at most a minute
    TImageList* ImageList1;  // the four rate pictures, shared with the icon
    TOnlineIP* OnlineIP1;    // the detector that sees the machine go on line
    TTrayIcon* TrayIcon1;    // the notification area's icon

  signals:
    // A close has proceeded and everything is saved: the program ends.
    void Closed();

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // SessionHost: what the session asks of the window.
    void showProviderName(const std::string& name) override;
    // The metering tick's refresh: the fields only while the window is shown.
    void refreshDisplay() override;
    void showRates(const std::optional<std::string>& received,
                   const std::optional<std::string>& sent) override;
    void setTickEnabled(bool enabled) override;
    void reportLater(const std::exception& error) override;
    bool notify(const std::string& text) override;
    void later(std::function<void()> work) override;

    void fitHeight();
    // A step of the metering path: nothing in it waits for a person. Its reports, and an
    // error it raises, reach the user through the queued box; metering and saves go on.
    template <class Step>
    void metered(Step step);
    // The figures, the picture and the rates, each set only when it changed.
    void refreshFields();
    // The dialog of that global, made now if it may be; null: none.
    template <class Dialog>
    Dialog* dialog(Dialog*& global);

    Session session_;
    StatsFactory makeStats_;
    MeteredLinkSource* meteredLink_;
    StatsView* stats_ = nullptr;
    bool dialogsOnDemand_ = false;
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
