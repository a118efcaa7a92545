#pragma once
// Dates as the program stores them: days since 30 December 1899, the time of day as the
// fraction. Calendar arithmetic goes through std::chrono.
#include <cstdint>
#include <string>

#include "support/Clock.h"
#include "support/Locale.h"

namespace tallimer {

using DateTime = double;

struct YearMonthDay {
    int year = 1899;
    unsigned month = 12, day = 30;
};

bool IsValidDate(int year, unsigned month, unsigned day);
// Day count of a valid calendar date; the caller checks IsValidDate first.
DateTime EncodeDate(int year, unsigned month, unsigned day);
YearMonthDay DecodeDate(DateTime date);
DateTime EncodeDateTime(const LocalDateTime& t);

DateTime LocalToday(const Clock& clock);  // at midnight
DateTime LocalNow(const Clock& clock);

// Moves a date on by whole months, the day kept; a day the target month lacks becomes its
// last day (31 January + 1 month is 28 or 29 February). Result at midnight.
DateTime AddMonths(DateTime date, int months);

// The billing date that follows a closing on `today`: one period after the passed date; a
// date further behind moves on by whole periods, counted from it so that its day stays, to
// the first billing date not before today, so one closing catches up. A date of 0 (never
// set) gives a period that starts today. A period of 0 months leaves the date as it is.
DateTime NextBillingDate(DateTime billingDate, int periodMonths, DateTime today);

// "05 mars 01" and "05 mars 01, 21:07:44" with the locale's abbreviated month names.
std::string FormatShortDate(DateTime date, const Locale& locale);
std::string FormatStamp(DateTime dateTime, const Locale& locale);

// One reading of the local calendar, as the tariff rules take it. Milliseconds are dropped.
struct CalendarReading {
    std::uint16_t year = 0, month = 0, day = 0;
    std::uint8_t dayOfWeek = 0;  // 1 Sunday ... 7 Saturday
    std::uint16_t hour = 0, minute = 0, second = 0;
};

// withDate false: day of week and time, the date fields set to 0. withDate true: date and
// time, dayOfWeek left as the caller set it.
void ReadCalendar(const Clock& clock, CalendarReading& reading, bool withDate);

}  // namespace tallimer
