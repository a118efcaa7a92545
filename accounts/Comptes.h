#pragma once
// The provider account: tariff, package, current-period totals and billing schedule, and
// the collection of accounts by connection name.
#include <cstdint>
#include <map>
#include <string>

#include "support/Date.h"
#include "timevalues/Time.h"

namespace tallimer {

struct Account {
    TotalTime periodDuration;
    float periodCost = 0;
    msTIME packageDuration;
    msTIME packageRemaining;
    float pricePerSecond = 0.26666668f;  // nearest float to 4/15
    msTIME creditDuration;
    float offPeakPrice = 0.5f;
    float creditPrice = 0.74f;
    float packagePrice = 0;
    bool packageEnabled = false;
    bool primaliste = false;
    bool primalisteInternet = false;
    bool packageCharged = false;
    std::int8_t packageType = 1;    // 0 "Permanent", 1 "Nuit", 2 "Nuit et Week-end"
    std::int8_t reductionType = 1;  // 0 "Soirée", 1 "Soir et week-end"
    DateTime nextInvoice = 0;       // last day of the current period
    std::uint16_t periodMonths = 1;
};

// Whether package time applies at that local reading, by the account's package type.
bool InPackageHours(const Account& account, const CalendarReading& reading);
// Whether the reduced price applies at that local reading, by the account's reduction type.
bool InOffPeakHours(const Account& account, const CalendarReading& reading);

// Accounts by connection name, ordered byte-wise (bytes unsigned, as std::string compares).
// Records never move: references stay valid for the collection's whole life.
class AccountCollection {
  public:
    using Map = std::map<std::string, Account>;

    // The record stored under that name, inserted with the defaults when absent; an
    // existing record is never replaced.
    Account& findOrCreate(const std::string& name) { return map_.try_emplace(name).first->second; }
    Account* find(const std::string& name) {
        auto it = map_.find(name);
        return it == map_.end() ? nullptr : &it->second;
    }
    std::size_t size() const { return map_.size(); }
    bool empty() const { return map_.empty(); }
    Map::iterator begin() { return map_.begin(); }
    Map::iterator end() { return map_.end(); }
    Map::const_iterator begin() const { return map_.begin(); }
    Map::const_iterator end() const { return map_.end(); }

  private:
    Map map_;
};

}  // namespace tallimer
