#pragma once
// Per-account alerts before the bill (budget of the billing period, package running low)
// and the holiday option, kept in a settings file of their own beside the account files.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/Comptes.h"
#include "support/Locale.h"

namespace tallimer {

inline constexpr const char* kAlertSettingsFile = "alertes.inf";

enum AlertBit : unsigned { kBudget80 = 1, kBudget100 = 2, kPackageLow = 4 };

struct AccountAlerts {
    bool holidaysAsWeekend = false;
    float budget = 0;                  // none when 0
    std::int64_t packageLevelMs = -1;  // negative: a tenth of the package
    DateTime period = 0;               // nextInvoice of the period the fired alerts belong to
    unsigned fired = 0;                // AlertBit
    bool operator==(const AccountAlerts&) const = default;
};
using AlertSettings = std::map<std::string, AccountAlerts>;

// One line per account, CR LF, fields separated by tabs, C-locale numbers: name, holidays
// (0/1), budget, package level in ms, period, fired bits. Accounts left at the defaults and
// names a line cannot hold are not written.
std::string AlertSettingsBytes(const AlertSettings& settings);
// Whatever can be read: a bad line is skipped, a bad field keeps its default.
AlertSettings ParseAlertSettings(std::string_view bytes);
AlertSettings LoadAlertSettings(const std::string& path);
bool SaveAlertSettings(const std::string& path, const AlertSettings& settings);

// The alerts due for the account at local time `now`, each once per threshold and period:
// marks them in `alerts.fired` (a new period clears the marks). French texts.
std::vector<std::string> DueAlerts(const Account& account, AccountAlerts& alerts, DateTime now,
                                   const Locale& locale);
// The period's cost at its end, by PeriodEstimate: the package fee charged counts once.
float EstimatedPeriodCost(const Account& account, DateTime now);

// "h:mm" or "h:mm:ss"; empty or malformed: nothing.
std::optional<std::int64_t> ParseDurationText(std::string_view text);

}  // namespace tallimer
