#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "support/Holidays.h"

using namespace tallimer;

namespace {

// Every day of 2024 to 2030 against the published list: the eight fixed days and Easter
// Monday, Ascension and Whit Monday of each year.
TEST(HolidaysTest, EveryDayOfSevenYearsAgainstTheTable) {
    struct Year {
        int year;
        unsigned easter[2], monday[2], ascension[2], whitMonday[2];
    };
    const Year table[] = {
        {2024, {3, 31}, {4, 1}, {5, 9}, {5, 20}},   {2025, {4, 20}, {4, 21}, {5, 29}, {6, 9}},
        {2026, {4, 5}, {4, 6}, {5, 14}, {5, 25}},   {2027, {3, 28}, {3, 29}, {5, 6}, {5, 17}},
        {2028, {4, 16}, {4, 17}, {5, 25}, {6, 5}},  {2029, {4, 1}, {4, 2}, {5, 10}, {5, 21}},
        {2030, {4, 21}, {4, 22}, {5, 30}, {6, 10}},
    };
    const unsigned daysIn[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (const Year& y : table) {
        const MonthDay easter = EasterSunday(y.year);
        EXPECT_EQ(std::make_pair(easter.month, easter.day),
                  std::make_pair(y.easter[0], y.easter[1]))
            << y.year;
        std::set<std::pair<unsigned, unsigned>> expected = {{1, 1},
                                                            {5, 1},
                                                            {5, 8},
                                                            {7, 14},
                                                            {8, 15},
                                                            {11, 1},
                                                            {11, 11},
                                                            {12, 25},
                                                            {y.monday[0], y.monday[1]},
                                                            {y.ascension[0], y.ascension[1]},
                                                            {y.whitMonday[0], y.whitMonday[1]}};
        int found = 0;
        for (unsigned m = 1; m <= 12; ++m)
            for (unsigned d = 1; d <= daysIn[m - 1]; ++d) {
                if (m == 2 && d == 29 && y.year % 4 != 0) continue;
                const bool holiday = IsFrenchHoliday(y.year, m, d);
                found += holiday;
                EXPECT_EQ(holiday, expected.count({m, d}) == 1) << y.year << "-" << m << "-" << d;
            }
        EXPECT_EQ(found, 11) << y.year;
    }
    EXPECT_FALSE(IsFrenchHoliday(2024, 0, 1));
    EXPECT_FALSE(IsFrenchHoliday(2024, 13, 1));
}

}  // namespace
