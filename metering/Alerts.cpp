#include "metering/Alerts.h"

#include <cmath>
#include <iterator>

#include "metering/JournalStats.h"
#include "support/FieldText.h"
#include "support/FileWrite.h"
#include "support/NumberText.h"

namespace tallimer {

namespace {

std::string Euros(float v, const Locale& locale) {
    return InvoiceAmountText(v, locale) + " €";
}

}  // namespace

std::string AlertSettingsBytes(const AlertSettings& settings) {
    std::string out;
    for (const auto& [name, a] : settings) {
        if (a == AccountAlerts{}) continue;
        if (name.find_first_of("\t\r\n") != std::string::npos) continue;
        out += name + '\t' + (a.holidaysAsWeekend ? "1" : "0") + '\t' + NumberField(a.budget) +
               '\t' + NumberField(a.packageLevelMs) + '\t' + NumberField(a.period) + '\t' +
               NumberField(a.fired) + "\r\n";
    }
    return out;
}

AlertSettings ParseAlertSettings(std::string_view bytes) {
    AlertSettings settings;
    for (std::string_view line : SplitFields(bytes, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        auto f = SplitFields(line, '\t');
        if (f.size() < 2) continue;  // the account of no name is one too
        AccountAlerts a;
        a.holidaysAsWeekend = f[1] == "1";
        if (f.size() > 2 && ReadField(f[2], a.budget) && !(a.budget > 0 && std::isfinite(a.budget)))
            a.budget = 0;
        if (f.size() > 3) ReadField(f[3], a.packageLevelMs);
        if (f.size() > 4 && ReadField(f[4], a.period) && !std::isfinite(a.period)) a.period = 0;
        if (f.size() > 5 && ReadField(f[5], a.fired)) a.fired &= 7;
        settings[std::string(f[0])] = a;
    }
    return settings;
}

AlertSettings LoadAlertSettings(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return {};
    return ParseAlertSettings(bytes);
}

bool SaveAlertSettings(const std::string& path, const AlertSettings& settings) {
    return WriteFileAtomically(path, AlertSettingsBytes(settings));
}

float EstimatedPeriodCost(const Account& account, DateTime now) {
    const float fee = account.packageEnabled && account.packageCharged ? account.packagePrice : 0;
    return static_cast<float>(
        PeriodEstimate(account.periodCost, fee, BillingPeriod(account, 0, std::floor(now)), now));
}

std::vector<std::string> DueAlerts(const Account& account, AccountAlerts& alerts, DateTime now,
                                   const Locale& locale) {
    std::vector<std::string> texts;
    if (alerts.period != account.nextInvoice) {
        alerts.period = account.nextInvoice;
        alerts.fired = 0;
    }
    const std::string estimate = "Estimation à la fin de la période\u00A0: " +
                                 Euros(EstimatedPeriodCost(account, now), locale) + ".";
    if (alerts.budget > 0) {
        const long double cost = account.periodCost;
        if (cost >= alerts.budget && !(alerts.fired & kBudget100)) {
            alerts.fired |= kBudget100 | kBudget80;
            texts.push_back(
                "Budget de la période atteint\u00A0: " + Euros(account.periodCost, locale) +
                " pour " + Euros(alerts.budget, locale) + ". " + estimate);
        } else if (cost >= 0.8L * alerts.budget && !(alerts.fired & kBudget80)) {
            alerts.fired |= kBudget80;
            texts.push_back(
                "80\u00A0% du budget de la période\u00A0: " + Euros(account.periodCost, locale) +
                " sur " + Euros(alerts.budget, locale) + ". " + estimate);
        }
    }
    if (account.packageEnabled && account.packageDuration > 0) {
        const std::int64_t level = alerts.packageLevelMs >= 0
                                       ? alerts.packageLevelMs
                                       : account.packageDuration.totalMs / 10;
        if (account.packageRemaining.totalMs < level && !(alerts.fired & kPackageLow)) {
            alerts.fired |= kPackageLow;
            texts.push_back(
                "Forfait presque épuisé\u00A0: il reste " +
                LongDurationText(std::max<std::int64_t>(account.packageRemaining.totalMs, 0)) +
                " sur " + LongDurationText(account.packageDuration.totalMs) + ". " + estimate);
        }
    }
    return texts;
}

std::optional<std::int64_t> ParseDurationText(std::string_view text) {
    auto parts = SplitFields(text, ':');
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    std::int64_t total = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::int64_t v = 0;
        if (parts[i].empty() || !ReadField(parts[i], v) || v < 0) return std::nullopt;
        if (i > 0 && (v > 59 || parts[i].size() != 2)) return std::nullopt;
        if (i == 0 && v > 100000) return std::nullopt;
        total = total * 60 + v;
    }
    if (parts.size() == 2) total *= 60;
    return total * 1000;
}

}  // namespace tallimer
