#include "metering/JournalStats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "support/NumberText.h"

namespace tallimer {

namespace {

// Days back from the newest to the oldest drawn for "all": a row dated centuries off must
// not make the chart allocate them.
constexpr long kMaxDays = 3660;

long DayOf(DateTime t) {
    return static_cast<long>(std::floor(t));
}

// Monday 0 ... Sunday 6; day 0 (30 December 1899) was a Saturday.
int WeekdayOf(DateTime t) {
    return static_cast<int>(((DayOf(t) % 7) + 7 + 5) % 7);
}

std::string DayText(DateTime day) {
    YearMonthDay d = DecodeDate(day);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u/%02u/%04d", d.day, d.month, d.year);
    return buf;
}

bool InPeriod(DateTime t, const StatsPeriod& p) {
    return p.kind == StatsPeriodKind::All || (t >= p.from && t < p.to);
}

int Digits(const std::string& s, std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

// The 14 digits of a "YYYY-MM-DDThh:mm:ss" text, -1 when the text is not of that form.
std::int64_t IsoDigits(const std::string& s) {
    static const char form[] = "0000-00-00T00:00:00";
    if (s.size() != sizeof form - 1) return -1;
    std::int64_t v = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (form[i] != '0') {
            if (s[i] != form[i]) return -1;
        } else if (s[i] < '0' || s[i] > '9') {
            return -1;
        } else {
            v = v * 10 + (s[i] - '0');
        }
    }
    return v;
}

std::string IsoText(std::int64_t digits) {
    char buf[32];
    auto part = [digits](int skip, int mod) {
        std::int64_t v = digits;
        for (int i = 0; i < skip; ++i) v /= 10;
        return static_cast<int>(v % mod);
    };
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", part(10, 10000), part(8, 100),
                  part(6, 100), part(4, 100), part(2, 100), part(0, 100));
    return buf;
}

std::vector<StatsRow> StatsRowsOf(const std::vector<JournalRow>& rows) {
    std::vector<StatsRow> out;
    out.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (auto r = StatsRowOf(rows[i], static_cast<std::int64_t>(i)))
            out.push_back(std::move(*r));
    return out;
}

// Shortest text that reads back as the same float, with the given decimal separator.
std::string FloatText(float v, char separator) {
    if (!std::isfinite(v)) return {};
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    std::replace(s.begin(), s.end(), '.', separator);
    return s;
}

std::string CsvField(const std::string& text) {
    std::string s = Utf8(text);
    if (s.find_first_of(";\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

// "dd/mm/yyyy hh:mm:ss" of an ISO local text; empty when it is not one.
std::string CsvDate(const std::string& iso) {
    if (!ParseLocalIso(iso)) return {};
    return iso.substr(8, 2) + '/' + iso.substr(5, 2) + '/' + iso.substr(0, 4) + ' ' +
           iso.substr(11, 8);
}

std::string JsonFloat(float v) {
    std::string s = FloatText(v, '.');
    return s.empty() ? "null" : s;
}

}  // namespace

std::string Utf8(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80                   ? 1
                        : (c >= 0xC2 && c <= 0xDF) ? 2
                        : (c >= 0xE0 && c <= 0xEF) ? 3
                        : (c >= 0xF0 && c <= 0xF4) ? 4
                                                   : 0;
        bool ok = n > 0 && i + n <= s.size();
        for (std::size_t k = 1; ok && k < n; ++k)
            ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (ok && n == 3) {
            auto d = static_cast<unsigned char>(s[i + 1]);
            ok = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0);  // overlong, surrogate
        }
        if (ok && n == 4) {
            auto d = static_cast<unsigned char>(s[i + 1]);
            ok = !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);
        }
        if (ok) {
            out.append(s, i, n);
            i += n;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : Utf8(text)) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + '"';
}

std::optional<DateTime> ParseLocalIso(const std::string& s) {
    if (s.size() != 19 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
        s[16] != ':')
        return std::nullopt;
    int y = Digits(s, 0, 4), mo = Digits(s, 5, 2), d = Digits(s, 8, 2);
    int h = Digits(s, 11, 2), mi = Digits(s, 14, 2), se = Digits(s, 17, 2);
    if (y < 0 || mo < 0 || d < 0 || h < 0 || mi < 0 || se < 0 || h > 23 || mi > 59 || se > 59 ||
        !IsValidDate(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)))
        return std::nullopt;
    return EncodeDate(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) +
           ((h * 60.0 + mi) * 60.0 + se) / 86400.0;
}

std::optional<StatsRow> StatsRowOf(const JournalRow& row, std::int64_t key) {
    auto start = ParseLocalIso(row.startLocal);
    if (!start) return std::nullopt;
    StatsRow r;
    r.key = key;
    r.start = *start;
    r.startDigits = IsoDigits(row.startLocal);
    r.endDigits = IsoDigits(row.endLocal);
    if (r.endDigits < 0 && !row.endLocal.empty())
        r.endText = std::make_unique<std::string>(row.endLocal);
    r.durationMs = row.durationMs;
    r.cost = row.cost;
    r.packageFee = row.packageFee;
    r.normalMs = row.normalMs;
    r.reducedMs = row.reducedMs;
    r.packageMs = row.packageMs;
    r.creditMs = row.creditMs;
    r.bytesReceived = row.bytesReceived;
    r.bytesSent = row.bytesSent;
    r.volumeBytes = row.volumeBytes;
    r.volumeCost = row.volumeCost;
    r.end = row.end;
    r.origin = row.origin;
    return r;
}

std::vector<StatsRow> ConnectionJournal::statsRows(const std::string& account) {
    return StatsRowsOf(query({account, {}, {}}));
}

std::vector<JournalRow> ConnectionJournal::fullRows(const std::string& account,
                                                    const std::vector<std::int64_t>& keys) {
    std::vector<JournalRow> all = query({account, {}, {}}), out;
    for (std::int64_t key : keys)
        if (key >= 0 && static_cast<std::size_t>(key) < all.size())
            out.push_back(all[static_cast<std::size_t>(key)]);
    return out;
}

std::string StartText(const StatsRow& row) {
    return IsoText(row.startDigits);
}

std::string EndText(const StatsRow& row) {
    if (row.endDigits >= 0) return IsoText(row.endDigits);
    return row.endText ? *row.endText : std::string();
}

StatsPeriod BillingPeriod(const Account& account, int back, DateTime today) {
    StatsPeriod p;
    p.kind = StatsPeriodKind::Billing;
    p.back = back;
    int m = account.periodMonths;
    if (account.nextInvoice != 0 && m > 0) {
        // The period closes at the first connection after its last day: that day is in it.
        p.to = AddMonths(account.nextInvoice, -back * m) + 1;
        p.from = AddMonths(account.nextInvoice, -(back + 1) * m) + 1;
    } else {
        YearMonthDay d = DecodeDate(today);
        p.from = AddMonths(EncodeDate(d.year, d.month, 1), -back);
        p.to = AddMonths(p.from, 1);
    }
    std::string span = "du " + DayText(p.from) + " au " + DayText(p.to - 1);
    p.label = back == 0 ? "Période en cours (" + span + ")" : "Période " + span;
    return p;
}

std::vector<StatsPeriod> StatsPeriods(const Account& account, const std::vector<JournalRow>& rows,
                                      DateTime today) {
    return StatsPeriods(account, StatsRowsOf(rows), today);
}

std::vector<StatsPeriod> StatsPeriods(const Account& account, const std::vector<StatsRow>& rows,
                                      DateTime today) {
    std::optional<DateTime> oldest;
    for (const StatsRow& r : rows)
        if (!oldest || r.start < *oldest) oldest = r.start;
    std::vector<StatsPeriod> list{BillingPeriod(account, 0, today)};
    for (int back = 1; back <= 24 && oldest; ++back) {
        StatsPeriod p = BillingPeriod(account, back, today);
        if (p.to <= *oldest || p.to >= list.back().to) break;
        list.push_back(p);
    }
    YearMonthDay d = DecodeDate(today);
    StatsPeriod year{StatsPeriodKind::Last12Months, 0,
                     AddMonths(EncodeDate(d.year, d.month, 1), -11), std::floor(today) + 1,
                     "12 derniers mois"};
    list.push_back(year);
    list.push_back({StatsPeriodKind::All, 0, 0, 0, "Tout"});
    return list;
}

std::vector<JournalRow> RowsInPeriod(const std::vector<JournalRow>& rows, const StatsPeriod& period,
                                     DateTime firstDay, DateTime lastDay) {
    const std::vector<StatsRow> stats = StatsRowsOf(rows);
    std::vector<JournalRow> out;
    for (std::size_t i : RowsInPeriod(stats, period, firstDay, lastDay))
        out.push_back(rows[static_cast<std::size_t>(stats[i].key)]);
    return out;
}

std::vector<std::size_t> RowsInPeriod(const std::vector<StatsRow>& rows, const StatsPeriod& period,
                                      DateTime firstDay, DateTime lastDay) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const StatsRow& r = rows[i];
        if (!InPeriod(r.start, period)) continue;
        if (IsFeeLine(r)) continue;
        if (firstDay != 0 && r.start < std::floor(firstDay)) continue;
        if (lastDay != 0 && r.start >= std::floor(lastDay) + 1) continue;
        out.push_back(i);
    }
    return out;
}

JournalStats ComputeStats(const std::vector<JournalRow>& rows, const Account& account,
                          const StatsPeriod& period, DateTime now) {
    return ComputeStats(StatsRowsOf(rows), account, period, now);
}

JournalStats ComputeStats(const std::vector<StatsRow>& rows, const Account& account,
                          const StatsPeriod& period, DateTime now) {
    JournalStats s;
    long double meteredCost = 0, meteredFees = 0;
    YearMonthDay today = DecodeDate(now);
    long thisMonth = today.year * 12L + today.month - 1;
    std::vector<std::pair<DateTime, const StatsRow*>> inPeriod;
    for (const StatsRow& r : rows) {
        const DateTime t = r.start;
        YearMonthDay d = DecodeDate(t);
        long index = d.year * 12L + d.month - 1 - thisMonth + 11;
        if (index >= 0 && index < 12) {
            s.months[static_cast<std::size_t>(index)].cost += r.cost;
            s.months[static_cast<std::size_t>(index)].durationMs += r.durationMs;
        }
        if (!InPeriod(t, period)) continue;
        inPeriod.emplace_back(t, &r);
        if (IsFeeLine(r)) {
            s.packageFees += r.packageFee;
            continue;
        }
        ++s.connections;
        s.durationMs += r.durationMs;
        s.cost += r.cost;
        s.bytesReceived += r.bytesReceived;
        s.bytesSent += r.bytesSent;
        auto hour = static_cast<std::size_t>(r.startDigits / 10000 % 100);
        CountBucket& h = s.hours[hour];
        ++h.connections;
        h.durationMs += r.durationMs;
        CountBucket& w = s.weekdays[static_cast<std::size_t>(WeekdayOf(t))];
        ++w.connections;
        w.durationMs += r.durationMs;
        if (r.origin != JournalOrigin::Metered) {
            ++s.imported;
            continue;
        }
        meteredCost += r.cost;
        s.volumeBytes += r.volumeBytes;
        s.volumeCost += r.volumeCost;
        s.normalMs += r.normalMs;
        s.reducedMs += r.reducedMs;
        s.packageMs += r.packageMs;
        s.creditMs += r.creditMs;
        if (r.creditMs > 0) s.creditCost += account.creditPrice;
        meteredFees += r.packageFee;
    }
    s.packageFees += meteredFees;
    for (std::size_t i = 0; i < 12; ++i) {
        YearMonthDay m =
            DecodeDate(AddMonths(EncodeDate(today.year, today.month, 1), static_cast<int>(i) - 11));
        s.months[i].year = m.year;
        s.months[i].month = m.month;
    }
    if (s.connections > 0) {
        s.averageMs = s.durationMs / s.connections;
        s.averageCost = s.cost / s.connections;
    }
    // The journal keeps times, not prices: the present tariff splits the money, and outside
    // the discount that money is what the rows stored, so a past period keeps its own.
    s.normalCost = s.normalMs * static_cast<long double>(account.pricePerSecond) / 1000;
    s.reducedCost = s.reducedMs * static_cast<long double>(account.offPeakPrice) / 1000;
    s.reducedSaving = s.reducedMs *
                      (static_cast<long double>(account.pricePerSecond) - account.offPeakPrice) /
                      1000;
    // The volume's money is no time's: it stays out of the rates' split.
    const long double timeCost = meteredCost - s.volumeCost;
    if (account.primaliste || account.primalisteInternet) {
        s.primalisteSaving = std::max<long double>(
            0, s.normalCost + s.reducedCost + s.creditCost + meteredFees - timeCost);
    } else if (const long double priced = s.normalCost + s.reducedCost; priced > 0) {
        const long double stored = std::max<long double>(0, timeCost - meteredFees - s.creditCost);
        s.normalCost = s.normalCost * stored / priced;
        s.reducedCost = s.reducedCost * stored / priced;
        s.reducedSaving = s.reducedSaving * stored / priced;
    }

    // Days of the period; for "all", from the first row to the last.
    long first = 0, last = -1;
    if (period.kind != StatsPeriodKind::All) {
        first = DayOf(period.from);
        last = DayOf(period.to) - 1;
    } else if (!inPeriod.empty()) {
        auto [lo, hi] = std::minmax_element(inPeriod.begin(), inPeriod.end());
        first = DayOf(lo->first);
        last = DayOf(hi->first);
    }
    first = std::max(first, last - kMaxDays);
    if (last >= first) {
        s.days.resize(static_cast<std::size_t>(last - first + 1));
        for (std::size_t i = 0; i < s.days.size(); ++i)
            s.days[i].day = static_cast<DateTime>(first + static_cast<long>(i));
        for (const auto& [t, r] : inPeriod) {
            long i = DayOf(t) - first;
            if (i < 0 || i >= static_cast<long>(s.days.size())) continue;
            s.days[static_cast<std::size_t>(i)].cost += r->cost;
            s.days[static_cast<std::size_t>(i)].durationMs += r->durationMs;
        }
        long double sum = 0;
        for (DayBucket& d : s.days) d.cumulativeCost = sum += d.cost;
    }

    if (period.kind == StatsPeriodKind::Billing && period.back == 0 && now >= period.from &&
        now < period.to) {
        double elapsed = std::max(now - period.from, 1.0);
        s.hasEstimate = true;
        s.daysElapsed = now - period.from;
        s.daysLeft = period.to - now;
        s.estimatedCost = PeriodEstimate(s.cost, s.packageFees, period, now);
        s.estimatedMs =
            static_cast<std::int64_t>(std::llround(s.durationMs * EstimateScale(period, now)));
        if (account.packageEnabled) {
            long double remaining = account.packageRemaining.totalMs;
            if (remaining <= 0) {
                s.packageExhausted = true;
            } else if (s.packageMs > 0) {
                long double pace = s.packageMs / static_cast<long double>(elapsed);
                auto runOut = static_cast<DateTime>(now + remaining / pace);
                if (runOut < period.to) s.packageRunOut = std::floor(runOut);
            }
        }
    }
    return s;
}

double EstimateScale(const StatsPeriod& period, DateTime now) {
    // Whole days, today's included: one morning's connection is not taken for a month's pace,
    // and on the last day the estimate is the cost so far.
    const double elapsed = std::max(std::floor(now) - period.from + 1, 1.0);
    const double total = period.to - period.from;
    return std::isfinite(total / elapsed) ? std::max(total / elapsed, 1.0) : 1.0;
}

long double PeriodEstimate(long double cost, long double fees, const StatsPeriod& period,
                           DateTime now) {
    return fees + (cost - fees) * EstimateScale(period, now);
}

std::array<bool, 24> OffPeakWeekdayHours(const Account& account) {
    std::array<bool, 24> out{};
    for (std::uint16_t h = 0; h < 24; ++h) {
        CalendarReading r;
        r.dayOfWeek = 4;  // a Wednesday
        r.hour = h;
        out[h] = InOffPeakHours(account, r);
    }
    return out;
}

std::array<bool, 7> OffPeakWholeDays(const Account& account) {
    std::array<bool, 7> out{};
    for (int d = 0; d < 7; ++d) {
        bool all = true;
        for (std::uint16_t h = 0; h < 24 && all; ++h) {
            CalendarReading r;
            r.dayOfWeek = static_cast<std::uint8_t>(d == 6 ? 1 : d + 2);
            r.hour = h;
            all = InOffPeakHours(account, r);
        }
        out[static_cast<std::size_t>(d)] = all;
    }
    return out;
}

std::string LongDurationText(std::int64_t ms) {
    std::string sign = ms < 0 ? "-" : "";
    std::uint64_t s =
        (ms < 0 ? 0 - static_cast<std::uint64_t>(ms) : static_cast<std::uint64_t>(ms)) / 1000;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02llu:%02u:%02u", static_cast<unsigned long long>(s / 3600),
                  static_cast<unsigned>(s / 60 % 60), static_cast<unsigned>(s % 60));
    return sign + buf;
}

std::string BytesText(std::uint64_t bytes, const Locale& locale) {
    static const char* const units[] = {"ko", "Mo", "Go", "To"};
    if (bytes < 1000) return std::to_string(bytes) + " o";
    long double v = bytes / 1000.0L;
    std::size_t u = 0;
    while (v >= 1000 && u + 1 < std::size(units)) {
        v /= 1000;
        ++u;
    }
    return FormatFixed(static_cast<float>(v), 7, 1, locale) + " " + units[u];
}

namespace {

// Rows with no volume are exported as they were before the volume tariffs.
bool CarryVolume(const std::vector<JournalRow>& rows) {
    return std::any_of(rows.begin(), rows.end(),
                       [](const JournalRow& r) { return r.volumeBytes != 0 || r.volumeCost != 0; });
}

}  // namespace

std::string ExportCsv(const std::vector<JournalRow>& rows) {
    const bool volume = CarryVolume(rows);
    std::string out =
        "\xEF\xBB\xBF"
        "Compte;Début;Fin;Durée;Coût;Tarif normal;Tarif réduit;Forfait;Crédit;Prix du forfait;"
        "Adresse;Octets reçus;Octets envoyés;Fin de connexion;Origine";
    out += volume ? ";Volume (o);Coût du volume\r\n" : "\r\n";
    for (const JournalRow& r : rows) {
        const char* end = r.end == JournalEnd::Normal     ? "normale"
                          : r.end == JournalEnd::CutShort ? "interrompue"
                                                          : "en cours";
        out += CsvField(r.account) + ';' + CsvDate(r.startLocal) + ';' + CsvDate(r.endLocal) + ';' +
               LongDurationText(r.durationMs) + ';' + FloatText(r.cost, ',') + ';' +
               LongDurationText(r.normalMs) + ';' + LongDurationText(r.reducedMs) + ';' +
               LongDurationText(r.packageMs) + ';' + LongDurationText(r.creditMs) + ';' +
               FloatText(r.packageFee, ',') + ';' + CsvField(r.address) + ';' +
               std::to_string(r.bytesReceived) + ';' + std::to_string(r.bytesSent) + ';' + end +
               ';' + (r.origin == JournalOrigin::Metered ? "mesurée" : "importée");
        if (volume) out += ';' + std::to_string(r.volumeBytes) + ';' + FloatText(r.volumeCost, ',');
        out += "\r\n";
    }
    return out;
}

std::string ExportJson(const std::vector<JournalRow>& rows) {
    const bool volume = CarryVolume(rows);
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const JournalRow& r = rows[i];
        const char* end = r.end == JournalEnd::Normal     ? "normal"
                          : r.end == JournalEnd::CutShort ? "cutShort"
                                                          : "open";
        out += i ? ",\n" : "\n";
        out += "{\"id\":" + std::to_string(r.id) + ",\"account\":" + JsonString(r.account) +
               ",\"startLocal\":" + JsonString(r.startLocal) +
               ",\"startUtc\":" + JsonString(r.startUtc) +
               ",\"endLocal\":" + JsonString(r.endLocal) + ",\"endUtc\":" + JsonString(r.endUtc) +
               ",\"durationMs\":" + std::to_string(r.durationMs) +
               ",\"cost\":" + JsonFloat(r.cost) + ",\"normalMs\":" + std::to_string(r.normalMs) +
               ",\"reducedMs\":" + std::to_string(r.reducedMs) +
               ",\"packageMs\":" + std::to_string(r.packageMs) +
               ",\"creditMs\":" + std::to_string(r.creditMs) +
               ",\"packageFee\":" + JsonFloat(r.packageFee) +
               ",\"address\":" + JsonString(r.address) +
               ",\"bytesReceived\":" + std::to_string(r.bytesReceived) +
               ",\"bytesSent\":" + std::to_string(r.bytesSent) + ",\"end\":\"" + end +
               "\",\"origin\":\"" + (r.origin == JournalOrigin::Metered ? "metered" : "imported") +
               '"';
        if (volume)
            out += ",\"volumeBytes\":" + std::to_string(r.volumeBytes) +
                   ",\"volumeCost\":" + JsonFloat(r.volumeCost);
        out += '}';
    }
    return out + (rows.empty() ? "]\n" : "\n]\n");
}

VolumeBuckets ComputeVolumeBuckets(const std::vector<StatsRow>& rows, const StatsPeriod& period,
                                   const std::vector<DayBucket>& days) {
    VolumeBuckets v;
    v.days.resize(days.size());
    for (std::size_t i = 0; i < days.size(); ++i) v.days[i].day = days[i].day;
    const long first = days.empty() ? 0 : DayOf(days.front().day);
    for (const StatsRow& r : rows) {
        if (!InPeriod(r.start, period) || IsFeeLine(r)) continue;
        const std::uint64_t bytes = r.volumeBytes;
        v.bytes += bytes;
        v.hours[static_cast<std::size_t>(r.startDigits / 10000 % 100)] += bytes;
        const long i = DayOf(r.start) - first;
        if (i >= 0 && i < static_cast<long>(v.days.size()))
            v.days[static_cast<std::size_t>(i)].bytes += bytes;
    }
    std::uint64_t sum = 0;
    for (DayVolume& d : v.days) d.cumulative = sum += d.bytes;
    return v;
}

}  // namespace tallimer
