#include "metering/SessionState.h"

#include "metering/Meter.h"

namespace tallimer {

SessionState StateOf(const Meter& meter) {
    SessionState s;
    s.online = meter.metering();
    s.overallMs = meter.overallDuration.totalMs;
    s.overallCost = meter.overallCost;
    // Off line, the last connection's figures stay, as the window shows them.
    s.account = meter.providerName();
    s.connectionMs = meter.connectionDuration.totalMs;
    s.connectionCost = meter.connectionCost;
    s.connection = meter.connectionNumber();
    if (!s.online) return s;
    s.rateIcon = meter.rateIcon;
    if (const Account* a = meter.currentAccount) {
        s.periodMs = a->periodDuration.totalMs;
        s.periodCost = a->periodCost;
        s.packageEnabled = a->packageEnabled;
        s.packageLeftMs = a->packageEnabled ? a->packageRemaining.totalMs : 0;
        s.periodEnd = a->nextInvoice;
    }
    return s;
}

}  // namespace tallimer
