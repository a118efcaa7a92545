#include "support/Date.h"

#include <gtest/gtest.h>

#include "tests/common/Fakes.h"

using namespace tallimer;

namespace {

TEST(Date, CountsDaysFromTheEndOf1899) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2001, 3, 5), 36955.0);
    YearMonthDay d = DecodeDate(36955.75);
    EXPECT_EQ(d.year, 2001);
    EXPECT_EQ(d.month, 3u);
    EXPECT_EQ(d.day, 5u);
    EXPECT_TRUE(IsValidDate(2000, 2, 29));
    EXPECT_FALSE(IsValidDate(2001, 2, 29));
    EXPECT_FALSE(IsValidDate(2001, 13, 1));
    EXPECT_FALSE(IsValidDate(2001, 0, 1));
}

TEST(Date, AddsMonthsKeepingTheDayOrTheMonthsLastDay) {
    auto ymd = [](DateTime t) {
        YearMonthDay d = DecodeDate(t);
        return std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day);
    };
    EXPECT_EQ(ymd(AddMonths(EncodeDate(2001, 1, 31), 12)), "2002-1-31");
    EXPECT_EQ(ymd(AddMonths(EncodeDate(2001, 11, 15), 3)), "2002-2-15");
    EXPECT_EQ(ymd(AddMonths(EncodeDate(2001, 12, 15), 1)), "2002-1-15");
    EXPECT_EQ(ymd(AddMonths(EncodeDate(2001, 1, 31), 1)), "2001-2-28");
    EXPECT_EQ(ymd(AddMonths(EncodeDate(2004, 1, 31), 1)), "2004-2-29");
    EXPECT_EQ(ymd(AddMonths(EncodeDate(2001, 3, 5), 0)), "2001-3-5");
    EXPECT_EQ(ymd(AddMonths(EncodeDate(1899, 12, 30), 1)), "1900-1-30");
    EXPECT_EQ(ymd(AddMonths(EncodeDate(2001, 3, 31), 65535)), "7462-6-30");
}

TEST(Date, TheNextBillingDateCatchesUpInOneStep) {
    auto next = [](DateTime date, int months, DateTime today) {
        YearMonthDay d = DecodeDate(NextBillingDate(date, months, today));
        return std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day);
    };
    const DateTime today = EncodeDate(2026, 12, 7);
    // One period behind: one period on, even onto today itself (closed tomorrow).
    EXPECT_EQ(next(EncodeDate(2026, 11, 30), 1, today), "2026-12-30");
    EXPECT_EQ(next(EncodeDate(2026, 11, 7), 1, today), "2026-12-7");
    // Far behind: the first billing date from today on, the day of the month kept.
    EXPECT_EQ(next(EncodeDate(2001, 1, 31), 1, today), "2026-12-31");
    EXPECT_EQ(next(EncodeDate(2001, 3, 31), 1, EncodeDate(2027, 2, 10)), "2027-2-28");
    EXPECT_EQ(next(EncodeDate(2001, 3, 31), 1, EncodeDate(2027, 3, 1)), "2027-3-31");
    EXPECT_EQ(next(EncodeDate(2001, 12, 8), 3, today), "2026-12-8");
    EXPECT_EQ(next(EncodeDate(2001, 12, 6), 3, today), "2027-3-6");
    EXPECT_EQ(next(EncodeDate(1996, 2, 29), 12, today), "2027-2-28");
    // Never set: a period from today, today in it. No period: no move.
    EXPECT_EQ(next(0, 1, today), "2027-1-6");
    EXPECT_EQ(next(0, 12, today), "2027-12-6");
    EXPECT_EQ(next(0, 1, EncodeDate(2027, 1, 31)), "2027-2-27");
    EXPECT_EQ(next(EncodeDate(2001, 3, 5), 0, today), "2001-3-5");
    // The end of the calendar stops the search.
    EXPECT_EQ(next(EncodeDate(2001, 3, 5), 1, EncodeDate(9999, 12, 31)), "9999-12-5");
}

TEST(Date, TextsUseTheLocalesMonthNames) {
    DateTime t = EncodeDateTime({2001, 3, 5, 21, 7, 44, 0, 2});
    EXPECT_EQ(FormatShortDate(t, Locale::french()), "05 mars 01");
    EXPECT_EQ(FormatStamp(t, Locale::french()), "05 mars 01, 21:07:44");
    EXPECT_EQ(FormatShortDate(EncodeDate(2026, 12, 7), Locale::english()), "07 Dec 26");
    EXPECT_EQ(FormatStamp(EncodeDate(2000, 2, 1), Locale::french()), "01 févr. 00, 00:00:00");
    EXPECT_EQ(FormatStamp(EncodeDateTime({2001, 8, 9, 23, 59, 59, 999, 5}), Locale::french()),
              "09 août 01, 23:59:59");
}

TEST(Date, CalendarReadingFillsTheDateOrTheWeekday) {
    test::FakeClock clock;
    clock.local = {2026, 12, 6, 13, 4, 5, 678, 1};
    CalendarReading r;
    r.dayOfWeek = 9;
    ReadCalendar(clock, r, true);
    EXPECT_EQ(r.year, 2026);
    EXPECT_EQ(r.month, 12);
    EXPECT_EQ(r.day, 6);
    EXPECT_EQ(r.dayOfWeek, 9);
    EXPECT_EQ(r.hour, 13);
    EXPECT_EQ(r.second, 5);
    ReadCalendar(clock, r, false);
    EXPECT_EQ(r.year, 0);
    EXPECT_EQ(r.month, 0);
    EXPECT_EQ(r.day, 0);
    EXPECT_EQ(r.dayOfWeek, 1);
    EXPECT_EQ(LocalToday(clock), EncodeDate(2026, 12, 6));
}

}  // namespace
