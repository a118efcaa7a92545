#pragma once
// What a running copy says of its metering, copied out of the session: the command line reads
// it over the hand-over socket and the desktop's bus publishes it. Plain values only.
#include <cstdint>
#include <string>

#include "support/Date.h"

namespace tallimer {

struct SessionState {
    bool online = false;  // a connection is being metered
    // The connection's account (its connection name), "" unnamed, and its figures; off line,
    // the last connection's.
    std::string account;
    std::int64_t connectionMs = 0;
    float connectionCost = 0;
    unsigned connection = 0;    // connections begun in this run: a new one is another number
    std::uint8_t rateIcon = 0;  // 0 off line, 1 normal, 2 reduced, 3 package
    // The metered account's current period; all zero off line.
    std::int64_t periodMs = 0;
    float periodCost = 0;
    bool packageEnabled = false;
    std::int64_t packageLeftMs = 0;
    DateTime periodEnd = 0;  // the period's last day (the account's billing date)
    // Over all accounts.
    std::int64_t overallMs = 0;
    float overallCost = 0;
};

class Meter;
// The meter's figures as they stand; the period's are those of the account metered.
SessionState StateOf(const Meter& meter);

}  // namespace tallimer
