#include "metering/Session.h"

#include <utility>

#include "metering/Report.h"
#include "support/Errors.h"
#include "support/FileWrite.h"

namespace tallimer {

namespace {

// The meter's step, then what must follow it even when it raised; its error is raised after.
template <class Step, class Then>
void StepThen(Step step, Then then) {
    std::exception_ptr error;
    try {
        step();
    } catch (...) {
        error = std::current_exception();
    }
    then();
    if (error) std::rethrow_exception(error);
}

}  // namespace

Session::Session(SessionParts parts)
    : appFolder_(std::move(parts.appFolder)),
      clock_(parts.clock),
      names_(parts.names),
      locale_(std::move(parts.locale)),
      openJournal_(std::move(parts.openJournal)),
      meter_(*clock_, accounts_, *names_, *parts.counters, locale_),
      appVolumeMeter_(volumeMeter_, volumes_, parts.sockets) {
    meter_.setHost(this);
    meter_.setVolumeCharge(&appVolumeMeter_);
    meter_.holidaysAsWeekend = [this](const std::string& name) {
        auto it = alerts_.find(name);
        return it != alerts_.end() && it->second.holidaysAsWeekend;
    };
}

Session::~Session() {
    meter_.setHost(nullptr);
}

void Session::load(DataRead* readAhead) {
    for (const char* folder : {"", "Comptes", "Factures"}) RemoveLeftovers(appFolder_ + folder);
    OverallState state;
    if (readAhead) {
        accounts_ = std::move(readAhead->accounts);
        state = readAhead->state;
    } else {
        LoadAll(appFolder_, accounts_, state);
    }
    meter_.overallDuration = state.overallDuration;
    meter_.overallCost = state.overallCost;
    askOnExit = state.askOnExit;
    alerts_ = LoadAlertSettings(appFolder_ + kAlertSettingsFile);
    volumes_ = LoadVolumeBook(appFolder_ + kVolumeFile);
    ReconcileVolumeBook(volumes_, accounts_);
}

void Session::recover() {
    OverallState state{meter_.overallDuration, meter_.overallCost, askOnExit};
    desk_->recover(accounts_, state);
    meter_.overallDuration = state.overallDuration;
    meter_.overallCost = state.overallCost;
    changed();
}

// ---- Connection lifecycle

void Session::connect(const std::string& address) {
    if (meter_.metering()) return;
    // Back on line before the name came: the same connection goes on.
    if (asking_) {
        asking_->ended.reset();
        return;
    }
    const unsigned number = ++asks_;
    asking_ = Asking{address, clock_->monotonicMs(), std::nullopt, number};
    std::weak_ptr<int> alive = alive_;
    std::exception_ptr error;
    answering_ = &error;
    names_->askName([this, alive, number](std::string name) {
        if (alive.lock()) named(number, name);
    });
    answering_ = nullptr;
    if (error) std::rethrow_exception(error);
}

void Session::named(unsigned number, const std::string& name) {
    if (!asking_ || asking_->number != number) return;
    const Asking asked = *std::exchange(asking_, std::nullopt);
    // Answered later: the time waited is connection time, up to the link's end if it went.
    std::exception_ptr* const caller = std::exchange(answering_, nullptr);
    const std::int64_t waited =
        caller ? 0 : (asked.ended ? *asked.ended : clock_->monotonicMs()) - asked.since;
    try {
        begin(asked.address, name, waited);
        if (asked.ended) {
            tick();
            disconnect();
        }
    } catch (...) {
        // Raised to the one who asked when the answer came at once, reported otherwise.
        if (caller) {
            *caller = std::current_exception();
        } else {
            try {
                throw;
            } catch (const std::exception& e) {
                host_->reportLater(e);
            } catch (...) {
            }
        }
    }
}

void Session::begin(const std::string& address, const std::string& name, std::int64_t waitedMs) {
    const bool wasMetering = meter_.metering();
    // Metering runs even when the period could not be closed.
    StepThen([&] { meter_.Connect(name, waitedMs); },
             [&] {
                 if (!wasMetering) keeper().connected(address);
                 save(SaveMoment::Connected);
                 changed();
             });
}

void Session::disconnect() {
    if (asking_) {
        if (!asking_->ended) asking_->ended = clock_->monotonicMs();
        return;
    }
    const bool wasMetering = meter_.metering();
    StepThen([this] { meter_.Disconnect(); },
             [&] {
                 if (!wasMetering) return;
                 keeper().disconnected(JournalEnd::Normal);
                 save(SaveMoment::Disconnected);
                 changed();
             });
}

void Session::switchConnection(const std::string& address) {
    if (!meter_.metering()) return;
    const SessionState last = state();
    switching_ = true;
    StepThen(
        [&] {
            disconnect();
            connect(address);
        },
        [this] { switching_ = false; });
    changed(last);
}

void Session::tick() {
    StepThen([this] { meter_.TimerTick(); },
             [this] {
                 // A volume moves fast: its alerts are not left waiting for the minute save.
                 if (volumes_.empty()) return changed();
                 if (const auto v = volumes_.find(meter_.providerName());
                     v != volumes_.end() && v->second.periodBytes >= volumeAlertAt_)
                     checkAlerts();
                 changed();
             });
}

void Session::minute(const std::string& address) {
    keeper().minute(address);
    save(SaveMoment::Minute);
}

std::string Session::end() {
    try {
        // A connection still waiting for its name is metered under what the source says now.
        if (asking_) {
            if (!asking_->ended) asking_->ended = clock_->monotonicMs();
            named(asking_->number, names_->defaultConnectionName());
        }
        // A connection still metered ends with the program: its cost is in the period's
        // totals, so its line belongs on the running invoice too.
        meter_.Disconnect();
        keeper().disconnected(JournalEnd::CutShort);
        changed();
        if (!save(SaveMoment::Exit)) return FileError::create(unsaved_).what();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

void Session::saveForSessionEnd() {
    save(SaveMoment::Exit);
}

void Session::resetOverallDuration() {
    meter_.overallDuration = 0;
    changed();
}

// ---- Saving: the one place that says when what is counted reaches the disk

bool Session::save(SaveMoment moment) {
    // The connection in progress first: a crash between the two finds its record ahead of the
    // accounts, never behind. Made at its start too, while there is room: a disk that fills
    // before its end still finds the record's blocks to write it in.
    if ((moment == SaveMoment::Minute || moment == SaveMoment::Connected) && meter_.metering() &&
        meter_.currentAccount)
        desk_->recordConnection(now(), meter_.connectionDuration, meter_.connectionCost,
                                meter_.providerName(), *meter_.currentAccount,
                                meter_.overallDuration, meter_.overallCost);
    // At a connection's start too: a closed period must reach the account file even when the
    // archive failed. At exit no later save will try again: a failure gets a second try now.
    bool saved = saveFiles() || (moment == SaveMoment::Exit && saveFiles());
    // The manager writes its lines and closings as they come; the rest reaches the running
    // invoice's file at exit, whether or not its window was opened.
    if (moment == SaveMoment::Exit && !desk_->saveRunning()) {
        if (saved) unsaved_ = appFolder_ + "temp.rtf";
        saved = false;
    }
    // A threshold crossed by a connection's fee or by a connection shorter than a minute is
    // said at once, not at the next connection's first minute.
    else
        checkAlerts();
    return saved;
}

bool Session::saveFiles() {
    std::string failed;
    bool saved =
        SaveAll(appFolder_, accounts_,
                OverallState{meter_.overallDuration, meter_.overallCost, askOnExit}, &failed);
    if (saved) desk_->accountsSaved();
    // After the accounts: a crash between the two finds the volume behind its period's
    // closing, which loading mends, never ahead of it.
    if (!saveVolumes()) {
        if (saved) failed = appFolder_ + kVolumeFile;
        saved = false;
    }
    // Said once, until a save goes through again: the totals wait in memory for the next one.
    if (!saved && unsaved_.empty()) host_->reportLater(FileError::create(failed));
    unsaved_ = failed;
    return saved;
}

void Session::checkAlerts() {
    volumeAlertAt_ = std::numeric_limits<std::uint64_t>::max();
    if (!meter_.currentAccount) return;
    const Account& account = *meter_.currentAccount;
    const DateTime at = now();
    // Looked at on copies: an alert is marked as said only once it was shown. An account
    // never set keeps the defaults: its package is still watched.
    AccountAlerts money = alerts_[meter_.providerName()];
    std::vector<std::string> texts = DueAlerts(account, money, at, locale_);
    const std::size_t moneyTexts = texts.size();
    const auto volume = volumes_.find(meter_.providerName());
    std::optional<VolumeAccount> counted;
    if (volume != volumes_.end()) {
        counted = volume->second;
        for (std::string& text : DueVolumeAlerts(*counted, account, at, locale_))
            texts.push_back(std::move(text));
    }
    std::string message;
    for (const std::string& text : texts) message += (message.empty() ? "" : "\n") + text;
    // One notification: a tray that shows one balloon at a time loses none of them.
    if (!message.empty() && !host_->notify(message)) {
        // Said at the next save moment; the day's beginning is kept all the same.
        if (counted && counted->day != volume->second.day) {
            volume->second.day = counted->day;
            volume->second.dayStartBytes = counted->dayStartBytes;
            volume->second.fired &= ~static_cast<unsigned>(kVolumeDay);
        }
        return;
    }
    alerts_[meter_.providerName()] = money;
    if (counted) {
        volume->second = *counted;
        volumeAlertAt_ = NextVolumeAlertBytes(*counted, account, at);
    }
    // So that a restart does not say them again.
    if (moneyTexts > 0) saveAlerts();
    if (texts.size() > moneyTexts) saveVolumes();
}

bool Session::saveAlerts() {
    return SaveAlertSettings(appFolder_ + kAlertSettingsFile, alerts_);
}

std::string Session::trayHint() const {
    std::optional<std::uint64_t> volume;
    if (meter_.metering() && volumes_.count(meter_.providerName()))
        volume = volumeMeter_.connectionBytes();
    // Asked at each tick: the figures are gathered only where the hint shows them.
    return TrayHint(volume ? state() : SessionState{}, volume, locale_);
}

bool Session::saveVolumes() {
    return SaveVolumeBook(appFolder_ + kVolumeFile, volumes_);
}

// ---- The journal

JournalKeeper& Session::keeper() {
    if (!journalKeeper_) openJournal();
    return *journalKeeper_;
}

void Session::setJournal(ConnectionJournal* journal) {
    keeper().setJournal(journal);
    journal_ = journal;
}

void Session::openJournal() {
    OpenedJournal opened;
    if (openJournal_) opened = openJournal_(*this);
    if (opened.historyImport) {
        historyImport_ = std::move(opened.historyImport);
        host_->later([this] { importHistorySlice(); });
    }
    ownJournal_ = std::move(opened.journal);
    journal_ = ownJournal_.get();
    journalKeeper_ = std::make_unique<JournalKeeper>(
        journal_, *clock_, meter_,
        [this](const std::string& text) { host_->reportLater(Error(text)); }, &volumeMeter_);
    journalKeeper_->atStart();
}

// A long history goes in by slices, so the window, the tick and a stop request answer.
void Session::importHistorySlice() {
    constexpr int kSliceMs = 10;
    if (!historyImport_) return;
    if (!historyImport_->step(kSliceMs)) {
        host_->later([this] { importHistorySlice(); });
        return;
    }
    const std::string text = historyImport_->doneText();
    historyImport_.reset();
    if (!text.empty()) host_->notify(text);
}

// ---- Closings and lines

void Session::closePeriod(Account& account, const std::string& providerName, DateTime today) {
    desk_->closePeriod(account, providerName, today);
}

void Session::addInvoiceLine(DateTime when, msTIME duration, float amount) {
    // Once metering has stopped, the line is the connection's own: it ends its record.
    if (!meter_.metering() && meter_.currentAccount)
        desk_->endConnection(when, duration, amount, meter_.providerName(), *meter_.currentAccount,
                             meter_.overallDuration, meter_.overallCost);
    else
        desk_->addLine(when, duration, amount, meter_.providerName());
}

}  // namespace tallimer
