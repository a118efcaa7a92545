#pragma once
// Figures of the statistics window, computed from the journal's rows: totals of a period, the
// split by rate and what the options saved, the estimate at the period's end, and the
// buckets the charts draw. Plain functions of the rows: the window only shows them.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "accounts/Comptes.h"
#include "metering/Journal.h"
#include "support/Date.h"
#include "support/Locale.h"

namespace tallimer {

enum class StatsPeriodKind : std::uint8_t { Billing, Last12Months, All };

// Local days [from, to); both 0 for "all".
struct StatsPeriod {
    StatsPeriodKind kind = StatsPeriodKind::All;
    int back = 0;  // billing periods before the current one
    DateTime from = 0, to = 0;
    std::string label;  // French, for the chooser
};

// The billing period `back` periods before the current one: the current one ends with the
// account's nextInvoice day. An account with no billing date counts calendar months.
StatsPeriod BillingPeriod(const Account& account, int back, DateTime today);
// The chooser's list: the current billing period, the previous ones back to the oldest row
// (at most 24), the last 12 months, everything.
std::vector<StatsPeriod> StatsPeriods(const Account& account, const std::vector<JournalRow>& rows,
                                      DateTime today);
std::vector<StatsPeriod> StatsPeriods(const Account& account, const std::vector<StatsRow>& rows,
                                      DateTime today);

struct DayBucket {
    DateTime day = 0;
    long double cost = 0, cumulativeCost = 0;
    std::int64_t durationMs = 0;
    bool operator==(const DayBucket&) const = default;
};
struct MonthBucket {
    int year = 0;
    unsigned month = 0;
    long double cost = 0;
    std::int64_t durationMs = 0;
    bool operator==(const MonthBucket&) const = default;
};
struct CountBucket {
    std::int64_t connections = 0, durationMs = 0;
    bool operator==(const CountBucket&) const = default;
};

struct JournalStats {
    std::int64_t connections = 0, durationMs = 0;
    std::int64_t imported = 0;  // connections with no split by rate
    long double cost = 0;
    std::uint64_t bytesReceived = 0, bytesSent = 0;
    std::int64_t averageMs = 0;
    long double averageCost = 0;
    // Metered rows only: imported ones do not know their rates. Money is what the rows
    // stored, split by the rates' present prices.
    std::int64_t normalMs = 0, reducedMs = 0, packageMs = 0, creditMs = 0;
    long double normalCost = 0, reducedCost = 0, creditCost = 0, packageFees = 0;
    long double reducedSaving = 0, primalisteSaving = 0;
    // What the volume tariffs counted (free hours included) and cost: money of its own,
    // never a time rate's.
    std::uint64_t volumeBytes = 0;
    long double volumeCost = 0;
    // Current billing period only, while it runs: an estimate from the pace so far.
    bool hasEstimate = false;
    long double estimatedCost = 0;
    std::int64_t estimatedMs = 0;
    double daysElapsed = 0, daysLeft = 0;
    // Package account, current period: the day the package runs out at this pace, none
    // when it lasts the period; packageExhausted when it already has.
    std::optional<DateTime> packageRunOut;
    bool packageExhausted = false;
    std::vector<DayBucket> days;            // every day of the period (first to last row for "all")
    std::array<MonthBucket, 12> months{};   // the 12 months ending with today's
    std::array<CountBucket, 24> hours{};    // by local start hour
    std::array<CountBucket, 7> weekdays{};  // Monday first
    bool operator==(const JournalStats&) const = default;
};

// The rows of one account over the period. `rows` may hold any span (the whole journal of
// the account): each chart takes what it needs. Rows with an unreadable start are skipped.
JournalStats ComputeStats(const std::vector<JournalRow>& rows, const Account& account,
                          const StatsPeriod& period, DateTime now);
// The same of the rows as the window keeps them.
JournalStats ComputeStats(const std::vector<StatsRow>& rows, const Account& account,
                          const StatsPeriod& period, DateTime now);

// An imported line of no time: the package's fee (or nothing), not a connection.
inline bool IsFeeLine(const JournalRow& row) {
    return row.origin == JournalOrigin::Imported && row.durationMs == 0;
}
inline bool IsFeeLine(const StatsRow& row) {
    return row.origin == JournalOrigin::Imported && row.durationMs == 0;
}

// The period's cost at its end at the pace so far, used by the window and the alerts alike:
// the package fee is paid once, the rest grows with the whole days gone, today's included.
double EstimateScale(const StatsPeriod& period, DateTime now);
long double PeriodEstimate(long double cost, long double fees, const StatsPeriod& period,
                           DateTime now);

// The connections whose local start lies in the period and, when given, between the filter's
// days (inclusive); imported fee lines are not connections.
std::vector<JournalRow> RowsInPeriod(const std::vector<JournalRow>& rows, const StatsPeriod& period,
                                     DateTime firstDay = 0, DateTime lastDay = 0);
// The same as places in `rows`.
std::vector<std::size_t> RowsInPeriod(const std::vector<StatsRow>& rows, const StatsPeriod& period,
                                      DateTime firstDay = 0, DateTime lastDay = 0);

// The local start's and end's texts of a row as the journal holds them.
std::string StartText(const StatsRow& row);
std::string EndText(const StatsRow& row);

// Where the reduced price applies: by hour on a weekday, and whole days of the week (Monday
// first).
std::array<bool, 24> OffPeakWeekdayHours(const Account& account);
std::array<bool, 7> OffPeakWholeDays(const Account& account);

// "YYYY-MM-DDThh:mm:ss" read as a local date and time; nullopt when it is not one.
std::optional<DateTime> ParseLocalIso(const std::string& text);

// Texts of the window: "hhh:mm:ss" of a duration of any length, bytes in o/ko/Mo/Go with the
// locale's decimal separator.
std::string LongDurationText(std::int64_t ms);
std::string BytesText(std::uint64_t bytes, const Locale& locale);

// Text as UTF-8 whatever it held: a byte that does not start a well-formed sequence is taken
// as Latin-1, as names from older files may be.
std::string Utf8(const std::string& text);
// A JSON string of the text, as UTF-8.
std::string JsonString(const std::string& text);

// The rows for French spreadsheets: UTF-8 with a byte-order mark, ";" between fields, decimal
// comma, dates dd/mm/yyyy hh:mm:ss, CR LF lines, a header line. Only when some row carries a
// volume do the volume and its cost follow as two last columns.
std::string ExportCsv(const std::vector<JournalRow>& rows);
// The rows for scripts: a JSON array, one object per line, the journal's own field names;
// volumeBytes and volumeCost last, under the same condition.
std::string ExportJson(const std::vector<JournalRow>& rows);

// The bytes the volume tariff counted in the period's connections (free hours included, as
// the journal keeps them) by local start day, on the days of `days` (JournalStats::days), and
// by local start hour: what the period's volume figures count, never the link's other bytes.
struct DayVolume {
    DateTime day = 0;
    std::uint64_t bytes = 0, cumulative = 0;
    bool operator==(const DayVolume&) const = default;
};
struct VolumeBuckets {
    std::uint64_t bytes = 0;
    std::vector<DayVolume> days;
    std::array<std::uint64_t, 24> hours{};
    bool operator==(const VolumeBuckets&) const = default;
};
VolumeBuckets ComputeVolumeBuckets(const std::vector<StatsRow>& rows, const StatsPeriod& period,
                                   const std::vector<DayBucket>& days);

}  // namespace tallimer
