#include "support/Date.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace tallimer {

namespace {

using namespace std::chrono;

// 1899-12-30 as a day count of the system clock's epoch.
constexpr sys_days kEpoch = sys_days{year{1899} / December / 30};

std::string TwoDigits(long v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02ld", v);
    return buf;
}

}  // namespace

bool IsValidDate(int y, unsigned m, unsigned d) {
    if (y < 1 || y > 9999) return false;
    return year_month_day{year{y}, month{m}, day{d}}.ok();
}

DateTime EncodeDate(int y, unsigned m, unsigned d) {
    return static_cast<double>((sys_days{year{y} / month{m} / day{d}} - kEpoch).count());
}

YearMonthDay DecodeDate(DateTime date) {
    if (!std::isfinite(date) || std::fabs(date) > 3.0e6) return {};
    year_month_day ymd{kEpoch + days{static_cast<long>(std::trunc(date))}};
    return {static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
            static_cast<unsigned>(ymd.day())};
}

DateTime EncodeDateTime(const LocalDateTime& t) {
    double ms = ((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.millisecond;
    return EncodeDate(t.year, t.month, t.day) + ms / 86400000.0;
}

DateTime LocalToday(const Clock& clock) {
    LocalDateTime t = clock.localNow();
    return EncodeDate(t.year, t.month, t.day);
}

DateTime LocalNow(const Clock& clock) {
    return EncodeDateTime(clock.localNow());
}

DateTime AddMonths(DateTime date, int months) {
    YearMonthDay d = DecodeDate(date);
    long m = static_cast<long>(d.month) - 1 + months;
    long y = d.year + (m >= 0 ? m / 12 : (m - 11) / 12);
    m = ((m % 12) + 12) % 12 + 1;
    if (y < 1) y = 1;
    if (y > 9999) y = 9999;
    year_month_day_last last{year{static_cast<int>(y)},
                             month_day_last{month{static_cast<unsigned>(m)}}};
    unsigned dayOf = std::min(d.day, static_cast<unsigned>(last.day()));
    return EncodeDate(static_cast<int>(y), static_cast<unsigned>(m), dayOf);
}

DateTime NextBillingDate(DateTime billingDate, int periodMonths, DateTime today) {
    if (periodMonths <= 0) return AddMonths(billingDate, periodMonths);
    // Never set: the first period starts today, so a new account's first connection is in it.
    if (billingDate == 0) return AddMonths(today, periodMonths) - 1;
    DateTime next = AddMonths(billingDate, periodMonths);
    if (next >= today) return next;
    // Far behind: start from the whole periods between the two months, then step.
    YearMonthDay from = DecodeDate(billingDate), to = DecodeDate(today);
    long months = (static_cast<long>(to.year) - from.year) * 12 + static_cast<long>(to.month) -
                  static_cast<long>(from.month);
    long periods = std::max(1L, months / periodMonths);
    // AddMonths stops at year 9999: a date that no longer moves ends the search.
    for (DateTime previous = next;; ++periods) {
        next = AddMonths(billingDate,
                         static_cast<int>(std::min<long>(periods * periodMonths, 9999L * 12)));
        if (next >= today) return next;
        if (periods > 1 && next <= previous) return previous;
        previous = next;
    }
}

std::string FormatShortDate(DateTime date, const Locale& locale) {
    YearMonthDay d = DecodeDate(date);
    return TwoDigits(d.day) + " " + locale.shortMonths[d.month - 1] + " " + TwoDigits(d.year % 100);
}

std::string FormatStamp(DateTime dateTime, const Locale& locale) {
    double frac = std::fabs(dateTime - std::trunc(dateTime));
    long ms = std::lround(frac * 86400000.0);
    if (ms >= 86400000) ms = 86399999;
    long s = ms / 1000;
    return FormatShortDate(dateTime, locale) + ", " + TwoDigits(s / 3600) + ":" +
           TwoDigits(s / 60 % 60) + ":" + TwoDigits(s % 60);
}

void ReadCalendar(const Clock& clock, CalendarReading& reading, bool withDate) {
    LocalDateTime t = clock.localNow();
    if (withDate) {
        reading.year = static_cast<std::uint16_t>(t.year);
        reading.month = static_cast<std::uint16_t>(t.month);
        reading.day = static_cast<std::uint16_t>(t.day);
    } else {
        reading.year = reading.month = reading.day = 0;
        reading.dayOfWeek = static_cast<std::uint8_t>(t.dayOfWeek);
    }
    reading.hour = static_cast<std::uint16_t>(t.hour);
    reading.minute = static_cast<std::uint16_t>(t.minute);
    reading.second = static_cast<std::uint16_t>(t.second);
}

}  // namespace tallimer
