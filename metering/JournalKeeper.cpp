#include "metering/JournalKeeper.h"

#include <array>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>

#include "accounts/AccountFiles.h"
#include "metering/JournalStats.h"
#include "metering/Volume.h"
#include "support/Locale.h"

namespace tallimer {

namespace {

constexpr std::int64_t kDayMs = 86400000;

std::string Iso(int year, int month, int day, int hour, int minute, int second) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour,
                  minute, second);
    return text;
}

std::chrono::sys_days Days(int year, int month, int day) {
    return std::chrono::sys_days{std::chrono::year{year} / std::chrono::month(month) /
                                 std::chrono::day(day)};
}

// Local ms since the epoch (the local calendar read as if it were UTC) into an ISO text.
std::string IsoOfMs(std::int64_t ms, const char* suffix) {
    std::int64_t days = ms / kDayMs - (ms % kDayMs < 0 ? 1 : 0);
    std::int64_t inDay = ms - days * kDayMs;
    std::chrono::year_month_day ymd{std::chrono::sys_days{std::chrono::days{days}}};
    return Iso(int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day())),
               int(inDay / 3600000), int(inDay / 60000 % 60), int(inDay / 1000 % 60)) +
           suffix;
}

std::int64_t MsOf(const LocalDateTime& t) {
    return Days(t.year, t.month, t.day).time_since_epoch().count() * kDayMs +
           ((t.hour * 60LL + t.minute) * 60LL + t.second) * 1000LL + t.millisecond;
}

bool ParseInt(std::string_view text, int& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos) return parts;
        start = at + 1;
    }
}

int MonthOf(std::string_view name) {
    const Locale locales[] = {Locale::french(), Locale::english()};
    for (const Locale& locale : locales)
        for (int i = 0; i < 12; ++i)
            if (locale.shortMonths[std::size_t(i)] == name) return i + 1;
    return 0;
}

// "hh:mm:ss" into ms; hours may have more digits.
std::optional<std::int64_t> DurationMs(std::string_view text) {
    auto parts = Split(text, ':');
    int h = 0, m = 0, s = 0;
    if (parts.size() != 3 || !ParseInt(parts[0], h) || !ParseInt(parts[1], m) ||
        !ParseInt(parts[2], s) || h < 0 || m < 0 || m > 59 || s < 0 || s > 59)
        return std::nullopt;
    return ((h * 60LL + m) * 60LL + s) * 1000LL;
}

std::optional<float> Amount(std::string_view text) {
    std::string plain(text);
    for (char& c : plain)
        if (c == ',') c = '.';
    float value = 0;
    auto [end, ec] =
        std::from_chars(plain.data(), plain.data() + plain.size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end != plain.data() + plain.size() || plain.empty())
        return std::nullopt;
    return value;
}

}  // namespace

std::string IsoLocal(const LocalDateTime& t) {
    return Iso(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

std::string IsoUtcNow(const Clock& clock) {
    const LocalDateTime local = clock.localNow();
    const std::int64_t utcOfDay = clock.utcMsOfDay();
    const std::int64_t localOfDay =
        ((local.hour * 60LL + local.minute) * 60LL + local.second) * 1000LL + local.millisecond;
    // Zones are whole quarters of an hour between -12 h and +14 h.
    std::int64_t offset = localOfDay - utcOfDay;
    if (offset > 14 * 3600000LL) offset -= kDayMs;
    if (offset <= -12 * 3600000LL) offset += kDayMs;
    constexpr std::int64_t kQuarter = 15 * 60000;
    offset = (offset + (offset >= 0 ? kQuarter / 2 : -kQuarter / 2)) / kQuarter * kQuarter;
    return IsoOfMs(MsOf(local) - offset, "Z");
}

JournalKeeper::JournalKeeper(ConnectionJournal* journal, const Clock& clock, const Meter& meter,
                             Report report, const VolumeMeter* volume)
    : journal_(journal),
      clock_(clock),
      meter_(meter),
      report_(std::move(report)),
      volume_(volume) {}

void JournalKeeper::check() {
    std::string error = journal_->takeError();
    if (!error.empty() && !reported_) {
        reported_ = true;
        if (report_) report_(error);
    }
}

void JournalKeeper::atStart() {
    if (!journal_) return;
    journal_->markOpenRowsCutShort();
    check();
}

void JournalKeeper::fill() {
    row_.durationMs = meter_.connectionDuration.totalMs;
    row_.cost = meter_.connectionCost;
    row_.normalMs = meter_.normalMs;
    row_.reducedMs = meter_.reducedMs;
    row_.packageMs = meter_.packageMs;
    row_.creditMs = meter_.creditMs;
    row_.packageFee = meter_.packageFee;
    row_.bytesReceived = meter_.bytesReceived;
    row_.bytesSent = meter_.bytesSent;
    if (volume_) {
        row_.volumeBytes = volume_->connectionBytes();
        row_.volumeCost = volume_->connectionCost();
    }
}

void JournalKeeper::connected(const std::string& address) {
    if (!journal_ || !meter_.metering()) return;
    row_ = JournalRow{};
    row_.account = meter_.providerName();
    row_.startLocal = IsoLocal(clock_.localNow());
    row_.startUtc = IsoUtcNow(clock_);
    row_.address = address;
    fill();
    open_ = true;
    row_.id = journal_->open(row_);
    check();
}

void JournalKeeper::minute(const std::string& address) {
    if (!journal_ || !open_) return;
    if (!address.empty()) row_.address = address;
    fill();
    // A row that could not be opened is tried again: the connection must not go unrecorded.
    if (row_.id == 0)
        row_.id = journal_->open(row_);
    else
        journal_->refresh(row_);
    check();
}

void JournalKeeper::disconnected(JournalEnd end) {
    if (!journal_ || !open_) return;
    open_ = false;
    fill();
    row_.endLocal = IsoLocal(clock_.localNow());
    row_.endUtc = IsoUtcNow(clock_);
    row_.end = end;
    if (row_.id == 0) row_.id = journal_->open(row_);
    if (row_.id != 0) journal_->close(row_);
    check();
}

std::optional<JournalRow> RowOfInvoiceLine(const std::string& text, const std::string& account) {
    auto fields = Split(text, '\t');
    if (fields.size() != 4 || !fields[0].empty()) return std::nullopt;
    // "05 mars 01, 21:07:44"
    auto stamp = Split(fields[1], ' ');
    if (stamp.size() != 4 || stamp[2].size() != 3 || stamp[2].back() != ',') return std::nullopt;
    int day = 0, year = 0;
    const int month = MonthOf(stamp[1]);
    if (!ParseInt(stamp[0], day) || !ParseInt(stamp[2].substr(0, 2), year) || month == 0 ||
        year < 0)
        return std::nullopt;
    year += year < 70 ? 2000 : 1900;
    auto clockTime = DurationMs(stamp[3]);
    auto duration = DurationMs(fields[2]);
    auto amount = Amount(fields[3]);
    if (!clockTime || *clockTime >= kDayMs || !duration || !amount ||
        !std::chrono::year_month_day(std::chrono::year{year}, std::chrono::month(unsigned(month)),
                                     std::chrono::day(unsigned(day)))
             .ok())
        return std::nullopt;
    // The line is written when the connection ends.
    const std::int64_t end =
        Days(year, month, day).time_since_epoch().count() * kDayMs + *clockTime;
    JournalRow row;
    row.account = account;
    row.startLocal = IsoOfMs(end - *duration, "");
    row.endLocal = IsoOfMs(end, "");
    row.durationMs = *duration;
    // A line of no time is the package's fee, charged at a connection's first second; the
    // connection's own line already counts it in its amount.
    if (*duration == 0)
        row.packageFee = *amount;
    else
        row.cost = *amount;
    row.end = JournalEnd::Normal;
    row.origin = JournalOrigin::Imported;
    return row;
}

std::vector<JournalRow> RowsOfInvoice(const std::vector<std::string>& paragraphs,
                                      const std::string& account) {
    std::vector<JournalRow> rows;
    for (const std::string& paragraph : paragraphs)
        if (auto row = RowOfInvoiceLine(paragraph, account)) rows.push_back(std::move(*row));
    return rows;
}

std::optional<std::string> AccountOfArchiveName(const std::string& fileName,
                                                const AccountCollection* accounts) {
    constexpr std::string_view kExtension = ".rtf";
    if (fileName.size() <= kExtension.size() ||
        fileName.compare(fileName.size() - 4, 4, kExtension) != 0)
        return std::nullopt;
    std::string_view stem(fileName.data(), fileName.size() - 4);
    // "<name> dd mmm yy": the name itself may hold spaces.
    std::size_t cut = stem.size();
    for (int i = 0; i < 3; ++i) {
        if (cut == 0) return std::nullopt;
        cut = stem.rfind(' ', cut - 1);
        if (cut == std::string_view::npos) return std::nullopt;
    }
    auto date = Split(stem.substr(cut + 1), ' ');
    int day = 0, year = 0;
    if (date.size() != 3 || !ParseInt(date[0], day) || MonthOf(date[1]) == 0 ||
        date[2].size() != 2 || !ParseInt(date[2], year))
        return std::nullopt;
    // Cut as the archive was named: to fit a file name with its date after it.
    const std::size_t room = NAME_MAX - (fileName.size() - cut);
    if (accounts)
        for (const auto& [name, account] : *accounts)
            if (FileStem(name, room) == stem.substr(0, cut)) return name;
    std::string name;
    if (!AccountNameFromFileName(std::string(stem.substr(0, cut)) + ".fai", name))
        return std::nullopt;
    return name;
}

void RunningLinesSpan::add(const JournalRow& row) {
    const auto start = ParseLocalIso(row.startLocal), end = ParseLocalIso(row.endLocal);
    if (!start || !end) {
        allDated = false;
        return;
    }
    if (!firstEnd || *end < *firstEnd) firstEnd = end;
    if (!lastEnd || *end > *lastEnd) lastEnd = end;
}

std::string RunningInvoiceAccount(const AccountCollection& accounts, const std::string& current,
                                  const RunningLinesSpan& lines, DateTime today) {
    if (accounts.size() == 0) return current.empty() ? kImportedHistory : current;
    const std::string* fits = nullptr;
    for (const auto& [name, account] : accounts) {
        if (accounts.size() == 1) return name;
        const StatsPeriod period = BillingPeriod(account, 0, today);
        const bool all =
            lines.allDated &&
            (!lines.firstEnd || (*lines.firstEnd >= period.from && *lines.lastEnd < period.to));
        if (!all) continue;
        if (fits) return kImportedHistory;
        fits = &name;
    }
    return fits ? *fits : kImportedHistory;
}

std::string RunningInvoiceAccount(const AccountCollection& accounts, const std::string& current,
                                  const std::vector<JournalRow>& rows, DateTime today) {
    RunningLinesSpan lines;
    for (const JournalRow& row : rows) lines.add(row);
    return RunningInvoiceAccount(accounts, current, lines, today);
}

bool LooksLikeInvoiceLine(const std::string& paragraph) {
    return paragraph.size() > 1 && paragraph[0] == '\t' && paragraph[1] >= '0' &&
           paragraph[1] <= '9';
}

}  // namespace tallimer
