#pragma once
// The metering session: the accounts, the meter, the journal, the alerts, when things are
// saved, what a crash left behind, and the invoice lines and closings. The main window shows
// it and forwards the user's commands; the command line and the desktop's bus read its state.
#include <cstddef>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "accounts/AccountFiles.h"
#include "accounts/Comptes.h"
#include "metering/Alerts.h"
#include "metering/AppVolume.h"
#include "metering/InvoiceDesk.h"
#include "metering/Journal.h"
#include "metering/JournalKeeper.h"
#include "metering/Meter.h"
#include "metering/SessionState.h"
#include "metering/Sources.h"
#include "metering/Volume.h"
#include "support/Clock.h"
#include "support/Locale.h"

namespace tallimer {

// The state file and the account files, read ahead of the window.
struct DataRead {
    AccountCollection accounts;
    OverallState state;
};

// What the session asks of the one who shows it. Nothing here may wait for a person: the
// session runs on the metering path.
class SessionHost {
  public:
    virtual ~SessionHost() = default;
    // What the meter shows: the provider's name, the figures after a tick, the rates.
    virtual void showProviderName(const std::string& /*name*/) {}
    virtual void refreshDisplay() {}
    virtual void showRates(const std::optional<std::string>& /*received*/,
                           const std::optional<std::string>& /*sent*/) {}
    // The tick and the minute save run only while metering.
    virtual void setTickEnabled(bool /*enabled*/) {}
    // An error, said once the running step has returned.
    virtual void reportLater(const std::exception& /*error*/) {}
    // A notice in the notification area (an alert, the history import's end); false when
    // nothing could show it.
    virtual bool notify(const std::string& /*text*/) { return false; }
    // Runs the work once the events waiting now are handled; without a host it never runs.
    virtual void later(std::function<void()> /*work*/) {}
};

// A long task done by slices between events: the invoices' history taken into a new journal.
class SlicedTask {
  public:
    virtual ~SlicedTask() = default;
    // Works on for about that long; true once done.
    virtual bool step(int milliseconds) = 0;
    // What to say once done; empty: nothing.
    virtual std::string doneText() const = 0;
};

// The data folder's journal as opened, with the history import it still needs, if any.
struct OpenedJournal {
    std::unique_ptr<ConnectionJournal> journal;
    std::unique_ptr<SlicedTask> historyImport;
};

class Session;

// What the session is built on; the program passes the machine's, tests their fakes.
struct SessionParts {
    std::string appFolder;  // with its trailing separator
    const Clock* clock = nullptr;
    ConnectionNameSource* names = nullptr;
    LinkCounterSource* counters = nullptr;
    Locale locale;
    // Opens the journal at its first use; null: no journal.
    std::function<OpenedJournal(Session&)> openJournal;
    // The TCP sockets' counters, for each application's bytes; null: none.
    SocketCounterSource* sockets = nullptr;
};

class Session : private MeterHost {
  public:
    explicit Session(SessionParts parts);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Takes the data folder over: what writes cut short by a crash left behind is removed, then
    // the accounts, the totals and the alert settings are read (or taken from what was read
    // ahead). No other copy runs on this folder.
    void load(DataRead* readAhead);
    void setHost(SessionHost* host) { host_ = host ? host : &noHost_; }
    // The invoice manager; null: none, its calls are skipped. It must outlive its use here.
    void setInvoiceDesk(InvoiceDesk* desk) { desk_ = desk ? desk : &noDesk_; }
    InvoiceDesk& invoiceDesk() { return *desk_; }
    // Once the desk is set at start: what a crash left half done is finished.
    void recover();

    // The connection lifecycle. The meter's step comes first; the journal and the save follow
    // even when it raised, and its error is raised after them. A connection begins once its
    // account's name is known: when the name source answers later, its errors are reported
    // through the host, and its first tick counts the time waited.
    void connect(const std::string& address);
    // A connection whose name is still awaited.
    bool starting() const { return asking_.has_value(); }
    void disconnect();
    // The primary connection became another one, or the same one dialled again: the metered
    // connection ends and the next begins, told as one step (the last figures, then the new).
    void switchConnection(const std::string& address);
    // The one-second tick and the minute save while metering.
    void tick();
    void minute(const std::string& address);
    // The program ends: a connection still metered ends with it and everything is written.
    // Gives the text of what could not be, empty when all was.
    std::string end();
    // Writes everything now, without ending (the desktop session is ending).
    void saveForSessionEnd();
    // Writes the state file and every account file; false when some could not be written
    // (they are tried again at the next save).
    bool saveFiles();

    // The figures as they stand, and who is told when a metering step changed them (each tick,
    // a connection's start and end); after a switch, with the last figures of the connection
    // that ended. Called on the metering path: it must be quick.
    SessionState state() const { return StateOf(meter_); }
    using ChangedListener = std::function<void(const std::optional<SessionState>& ended)>;
    // The icon's hint as the figures stand.
    std::string trayHint() const;
    void setChangedListener(ChangedListener listener) { changed_ = std::move(listener); }
    // The overall duration starts again from zero.
    void resetOverallDuration();

    Meter& meter() { return meter_; }
    const Meter& meter() const { return meter_; }
    AccountCollection& accounts() { return accounts_; }
    const std::string& appFolder() const { return appFolder_; }
    const Locale& locale() const { return locale_; }
    DateTime now() const { return LocalNow(*clock_); }
    ConnectionNameSource& names() { return *names_; }
    bool askOnExit = true;
    AlertSettings& alerts() { return alerts_; }
    bool saveAlerts();
    // The volume tariffs and figures of the accounts billed by volume, and this connection's.
    VolumeBook& volumes() { return volumes_; }
    const VolumeMeter& volumeMeter() const { return volumeMeter_; }
    // The connection's bytes by application.
    AppVolumeMeter& appVolumes() { return appVolumeMeter_; }
    bool saveVolumes();

    // The journal's keeper, the journal opened first if it is not yet.
    JournalKeeper& keeper();
    // The connection journal; null when none could be opened.
    ConnectionJournal* journal() {
        keeper();
        return journal_;
    }
    // Another journal, the connections kept in it from now on; null: none.
    void setJournal(ConnectionJournal* journal);
    // Whether the invoices' history is still being taken into a new journal.
    bool importingHistory() const { return historyImport_ != nullptr; }

  private:
    // When what is counted is saved: the accounts and the state file at each connection's
    // start and end, every minute while metering (with the connection in progress) and at exit
    // (with the running invoice); a desktop session's end saves as an exit does.
    enum class SaveMoment { Connected, Disconnected, Minute, Exit };
    // False when something could not be written.
    bool save(SaveMoment moment);
    // Metering begins under that name, the connection having lasted waitedMs already.
    void begin(const std::string& address, const std::string& name, std::int64_t waitedMs);
    // The name's answer to the asking numbered `number`.
    void named(unsigned number, const std::string& name);
    // The alerts due for the account metered last, shown together in one notification and
    // marked as said once shown.
    void checkAlerts();
    void openJournal();
    void importHistorySlice();
    void changed(const std::optional<SessionState>& ended = std::nullopt) {
        if (changed_ && !switching_) changed_(ended);
    }

    // MeterHost: the closings and lines are the session's; the rest is shown by its host.
    void showProviderName(const std::string& name) override { host_->showProviderName(name); }
    void closePeriod(Account& account, const std::string& providerName, DateTime today) override;
    void refreshDisplay() override { host_->refreshDisplay(); }
    void showRates(const std::optional<std::string>& received,
                   const std::optional<std::string>& sent) override {
        host_->showRates(received, sent);
    }
    void addInvoiceLine(DateTime when, msTIME duration, float amount) override;
    void setTickEnabled(bool enabled) override { host_->setTickEnabled(enabled); }

    std::string appFolder_;
    const Clock* clock_;
    ConnectionNameSource* names_;
    Locale locale_;
    std::function<OpenedJournal(Session&)> openJournal_;
    AccountCollection accounts_;
    Meter meter_;
    AlertSettings alerts_;
    VolumeBook volumes_;
    VolumeMeter volumeMeter_{volumes_};
    AppVolumeMeter appVolumeMeter_;
    SessionHost noHost_;
    SessionHost* host_ = &noHost_;
    InvoiceDesk noDesk_;
    InvoiceDesk* desk_ = &noDesk_;
    std::unique_ptr<ConnectionJournal> ownJournal_;  // the data folder's
    std::unique_ptr<SlicedTask> historyImport_;      // into ownJournal_
    std::unique_ptr<JournalKeeper> journalKeeper_;
    ConnectionJournal* journal_ = nullptr;
    ChangedListener changed_;
    // The connection waiting for its name: its address, when it began, when it ended if it
    // has (monotonic ms), and which asking it is.
    struct Asking {
        std::string address;
        std::int64_t since = 0;
        std::optional<std::int64_t> ended;
        unsigned number = 0;
    };
    std::optional<Asking> asking_;
    std::exception_ptr* answering_ = nullptr;  // while the name is asked: where errors go
    unsigned asks_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // answers after the end are dropped
    bool switching_ = false;  // the steps of a switch are told once, together
    std::string unsaved_;     // the first file the last save could not write
    // The period's bytes from which a volume alert falls due: looked at each tick.
    std::uint64_t volumeAlertAt_ = std::numeric_limits<std::uint64_t>::max();
};

}  // namespace tallimer
