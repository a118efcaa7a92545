#include "metering/Meter.h"

#include <algorithm>
#include <cstdint>
#include <exception>

#include "support/Holidays.h"
#include "support/NumberText.h"

namespace tallimer {

namespace {

float Stored(long double v) {
    return static_cast<float>(v);
}

}  // namespace

Meter::Meter(const Clock& clock, AccountCollection& accounts, ConnectionNameSource& names,
             LinkCounterSource& counters, const Locale& locale)
    : clock_(clock), accounts_(accounts), names_(names), counters_(counters), locale_(locale) {}

void Meter::addCost(float cost) {
    connectionCost = Stored(static_cast<long double>(connectionCost) + cost);
    currentAccount->periodCost =
        Stored(static_cast<long double>(currentAccount->periodCost) + cost);
    overallCost = Stored(static_cast<long double>(overallCost) + cost);
}

void Meter::TimerTick() {
    try {
        if (!currentAccount) return;
        Account& account = *currentAccount;
        tickTime.FromClock(clock_);
        // The elapsed time comes from the monotonic clock: a step of the wall clock (a time
        // synchronisation) counts nothing, UTC midnight needs no care, and the time the machine
        // spends suspended is not connection time (no dial-up or mobile link survives it).
        const std::int64_t now = clock_.monotonicMs();
        if (!haveLastTick_) {
            if (lastTick == 0) lastTick = tickTime;
            lastMono_ = now - waitedMs_;
            waitedMs_ = 0;
        }
        const msTIME elapsed(
            static_cast<std::int32_t>(std::clamp<std::int64_t>(now - lastMono_, 0, INT32_MAX)));

        connectionDuration = connectionDuration + elapsed;
        account.periodDuration = account.periodDuration + elapsed;
        overallDuration = overallDuration + elapsed;
        // Counted now: a failure further on must not have the next tick count it again.
        lastMono_ = now;
        haveLastTick_ = true;

        if (account.packageEnabled) {
            if (!account.packageCharged) {
                addCost(account.packagePrice);
                account.packageCharged = true;
                packageFee = account.packagePrice;
                host_->addInvoiceLine(LocalNow(clock_), msTIME(0), account.packagePrice);
            }
            if (account.packageRemaining > 0) {
                CalendarReading reading;
                readTariffCalendar(reading);
                if (InPackageHours(account, reading)) {
                    account.packageRemaining = account.packageRemaining - elapsed;
                    packageMs += elapsed.totalMs;
                    rateIcon = 3;
                } else {
                    ChargeElapsed(elapsed);
                }
            } else {
                ChargeElapsed(elapsed);
            }
        } else {
            ChargeElapsed(elapsed);
        }

        host_->refreshDisplay();
        UpdateThroughput(elapsed);
        lastTick.FromClock(clock_);
    } catch (...) {
        // The tick never reports; the next one runs normally.
    }
}

void Meter::readTariffCalendar(CalendarReading& reading) const {
    ReadCalendar(clock_, reading, false);
    if (!holidaysAsWeekend || !holidaysAsWeekend(providerName_)) return;
    const LocalDateTime t = clock_.localNow();
    if (t.month > 0 && t.day > 0 &&
        IsFrenchHoliday(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)))
        reading.dayOfWeek = 1;  // a Sunday for the tariff
}

void Meter::ChargeElapsed(msTIME elapsed) {
    Account& account = *currentAccount;
    rateIcon = 1;
    float cost = 0;
    if (creditRemaining > 0) {
        if (!creditCharged) {
            cost = account.creditPrice;
            creditCharged = true;
        }
        creditRemaining = creditRemaining - elapsed;
        creditMs += elapsed.totalMs;
    } else {
        CalendarReading reading;
        readTariffCalendar(reading);
        float price = account.pricePerSecond;
        if (InOffPeakHours(account, reading)) {
            price = account.offPeakPrice;
            rateIcon = 2;
            reducedMs += elapsed.totalMs;
        } else {
            normalMs += elapsed.totalMs;
        }
        cost = Stored(static_cast<long double>(elapsed.totalMs) * price * 0.001L);
        if (account.primaliste) {
            if (tickTime.Hours() >= 22) cost = Stored(cost * 0.5L);  // UTC hour, not local
        } else if (account.primalisteInternet) {
            cost = Stored(cost * 0.8L);
        }
    }
    addCost(cost);
}

void Meter::UpdateThroughput(msTIME elapsed) {
    float seconds = Stored(elapsed.totalMs * 0.001L);
    if (seconds == 0 || !statsOpen_) return;
    std::optional<LinkCounters> counters = counters_.read();
    if (!counters) return;
    // Counted from the old link's last reading, a new link's counters would be billed as a
    // jump of up to 4 Go: they only set the baselines.
    if (counters->newLink) receivedFresh_ = sentFresh_ = true;
    std::uint64_t moved[2] = {0, 0};  // received, sent
    auto rate = [&](const std::optional<std::uint32_t>& counter, std::int32_t& baseline,
                    bool& fresh, std::uint64_t& total,
                    std::uint64_t& steps) -> std::optional<std::string> {
        if (!counter) return std::nullopt;  // missing: field and baseline stay
        const std::uint32_t step = *counter - static_cast<std::uint32_t>(baseline);
        auto delta = static_cast<std::int32_t>(step);
        baseline = static_cast<std::int32_t>(*counter);
        if (fresh) {
            // Against the previous connection's counters the figure would mean nothing.
            fresh = false;
            return std::nullopt;
        }
        total += step;  // unsigned: a counter that wrapped past 2^32 still counts forward
        steps = step;
        return RateText(Stored(delta * 8.0L / seconds * 0.0009765625L), locale_);
    };
    auto received =
        rate(counters->received, lastBytesRecvd, receivedFresh_, bytesReceived, moved[0]);
    auto sent = rate(counters->sent, lastBytesXmit, sentFresh_, bytesSent, moved[1]);
    // Charged before the rates are shown: a failing display must not have the bytes
    // counted but not paid.
    if (volume_ && currentAccount && (moved[0] || moved[1])) {
        CalendarReading reading;
        readTariffCalendar(reading);
        const float cost =
            volume_->charge(providerName_, *currentAccount, moved[0], moved[1], reading);
        if (cost != 0) addCost(cost);
    }
    if (received || sent) host_->showRates(received, sent);
}

void Meter::takeBaselines() {
    receivedFresh_ = sentFresh_ = true;
    counters_.connectionStarted();
    std::optional<LinkCounters> counters = counters_.read();
    if (!counters) return;
    if (counters->received) {
        lastBytesRecvd = static_cast<std::int32_t>(*counters->received);
        receivedFresh_ = false;
    }
    if (counters->sent) {
        lastBytesXmit = static_cast<std::int32_t>(*counters->sent);
        sentFresh_ = false;
    }
}

void Meter::Connect(const std::optional<std::string>& name, std::int64_t waitedMs) {
    if (metering_) return;
    creditCharged = false;
    providerName_ = name ? *name : names_.defaultConnectionName();
    currentAccount = &accounts_.findOrCreate(providerName_);
    host_->showProviderName(providerName_);
    std::exception_ptr closingError;
    const DateTime today = LocalToday(clock_);
    const DateTime billingDate = currentAccount->nextInvoice;
    if (today > billingDate) {
        try {
            host_->closePeriod(*currentAccount, providerName_, today);
        } catch (...) {
            closingError = std::current_exception();
        }
    }
    if (volume_)
        volume_->connectionStarted(providerName_, *currentAccount,
                                   currentAccount->nextInvoice != billingDate);
    connectionDuration = 0;
    connectionCost = 0;
    normalMs = reducedMs = packageMs = creditMs = 0;
    packageFee = 0;
    bytesReceived = bytesSent = 0;
    lastTick = 0;
    haveLastTick_ = false;
    waitedMs_ = std::max<std::int64_t>(waitedMs, 0);
    creditRemaining = currentAccount->creditDuration;
    statsOpen_ = true;
    takeBaselines();
    metering_ = true;
    ++connections_;
    host_->refreshDisplay();
    host_->setTickEnabled(true);
    if (closingError) std::rethrow_exception(closingError);
}

void Meter::Disconnect() {
    if (!metering_) return;
    metering_ = false;
    host_->setTickEnabled(false);
    rateIcon = 0;
    statsOpen_ = false;
    host_->refreshDisplay();
    host_->addInvoiceLine(LocalNow(clock_), connectionDuration, connectionCost);
}

}  // namespace tallimer
