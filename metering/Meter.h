#pragma once
// The meter: the metering state of the main window with the one-second tick, the start and
// end of a metered connection and the throughput readout. The window owns one and calls it;
// what the window, the invoices and the display attach at fixed points comes through MeterHost.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "accounts/Comptes.h"
#include "metering/Sources.h"
#include "support/Clock.h"
#include "support/Date.h"
#include "support/Locale.h"
#include "timevalues/Time.h"

namespace tallimer {

class MeterHost {
  public:
    virtual ~MeterHost() = default;
    virtual void showProviderName(const std::string& /*name*/) {}
    // Files the running invoice and opens a new period (ArchiveInvoice, StartNewPeriod).
    virtual void closePeriod(Account& /*account*/, const std::string& /*providerName*/,
                             DateTime /*today*/) {}
    virtual void refreshDisplay() {}
    // New rate texts; an empty optional leaves that field as it is.
    virtual void showRates(const std::optional<std::string>& /*received*/,
                           const std::optional<std::string>& /*sent*/) {}
    virtual void addInvoiceLine(DateTime /*when*/, msTIME /*duration*/, float /*amount*/) {}
    virtual void setTickEnabled(bool /*enabled*/) {}
};

// Prices the link's bytes under a volume tariff (metering/Volume). None set: time alone.
class VolumeCharge {
  public:
    virtual ~VolumeCharge() = default;
    // A connection starts on the account; periodClosed: its billing period was just closed.
    virtual void connectionStarted(const std::string& name, const Account& account,
                                   bool periodClosed) = 0;
    // The bytes the link moved since the last reading, at the tick's local reading; their cost.
    virtual float charge(const std::string& name, const Account& account, std::uint64_t received,
                         std::uint64_t sent, const CalendarReading& reading) = 0;
};

class Meter {
  public:
    Meter(const Clock& clock, AccountCollection& accounts, ConnectionNameSource& names,
          LinkCounterSource& counters, const Locale& locale);
    void setHost(MeterHost* host) { host_ = host ? host : &noHost_; }
    void setVolumeCharge(VolumeCharge* volume) { volume_ = volume; }

    // One metering step; every error inside is swallowed, what was added stays added.
    void TimerTick();
    // The priced part of one tick: time credit, or the price of the hour with discounts.
    void ChargeElapsed(msTIME elapsed);
    void UpdateThroughput(msTIME elapsed);

    // Starts metering, under the given account name or the name source's. While already
    // metering it does nothing. An error while closing the account's period is raised again
    // once the connection is metered all the same. waitedMs: how long the connection has
    // already lasted (its name was waited for), counted by its first tick.
    void Connect(const std::optional<std::string>& name = std::nullopt, std::int64_t waitedMs = 0);
    // Stops metering and logs the connection; does nothing when not metering.
    void Disconnect();
    bool metering() const { return metering_; }
    unsigned connectionNumber() const { return connections_; }
    const std::string& providerName() const { return providerName_; }

    // Metering state, read by the display and the dialogs.
    msTIME connectionDuration;
    float connectionCost = 0;
    TotalTime overallDuration;
    float overallCost = 0;
    Account* currentAccount = nullptr;
    msTIME tickTime;
    msTIME lastTick;
    msTIME creditRemaining;
    bool creditCharged = false;
    std::uint8_t rateIcon = 0;  // 0 off line, 1 normal, 2 reduced, 3 package
    std::int32_t lastBytesRecvd = 0;
    std::int32_t lastBytesXmit = 0;
    // Whether the named account bills French public holidays as week-end days; unset: never.
    std::function<bool(const std::string& account)> holidaysAsWeekend;
    // The connection's breakdown for the journal: time at each rate, the package fee when
    // charged in it, and the bytes over it (the 32-bit counters' deltas, wrap included).
    std::int64_t normalMs = 0, reducedMs = 0, packageMs = 0, creditMs = 0;
    float packageFee = 0;
    std::uint64_t bytesReceived = 0, bytesSent = 0;

  private:
    void readTariffCalendar(CalendarReading& reading) const;
    void addCost(float cost);
    void takeBaselines();

    const Clock& clock_;
    AccountCollection& accounts_;
    ConnectionNameSource& names_;
    LinkCounterSource& counters_;
    const Locale& locale_;
    MeterHost noHost_;
    MeterHost* host_ = &noHost_;
    VolumeCharge* volume_ = nullptr;
    std::string providerName_;
    bool metering_ = false;
    unsigned connections_ = 0;
    // lastTick holds a reading. A reading of exactly 00:00:00.000 is 0 too, so "lastTick is 0"
    // alone would make the next tick measure nothing.
    bool haveLastTick_ = false;
    std::int64_t lastMono_ = 0;  // monotonic reading the next tick measures from
    std::int64_t waitedMs_ = 0;  // what the first tick counts
    bool statsOpen_ = false;     // the counters are read only during a connection
    // A counter not yet read in this connection: its first reading only sets the baseline.
    bool receivedFresh_ = false;
    bool sentFresh_ = false;
};

}  // namespace tallimer
