#include "support/Holidays.h"

namespace tallimer {

namespace {

bool Leap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DayOfYear(int year, unsigned month, unsigned day) {
    static const int before[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    return before[month - 1] + static_cast<int>(day) + (month > 2 && Leap(year) ? 1 : 0);
}

}  // namespace

MonthDay EasterSunday(int year) {
    // Anonymous Gregorian computus.
    const int a = year % 19, b = year / 100, c = year % 100;
    const int d = b / 4, e = b % 4, f = (b + 8) / 25, g = (b - f + 1) / 3;
    const int h = (19 * a + b - d - g + 15) % 30;
    const int i = c / 4, k = c % 4;
    const int l = (32 + 2 * e + 2 * i - h - k) % 7;
    const int m = (a + 11 * h + 22 * l) / 451;
    const int n = h + l - 7 * m + 114;
    return {static_cast<unsigned>(n / 31), static_cast<unsigned>(n % 31 + 1)};
}

bool IsFrenchHoliday(int year, unsigned month, unsigned day) {
    if (year < 1583 || month < 1 || month > 12 || day < 1 || day > 31) return false;
    const unsigned fixed[][2] = {{1, 1},  {5, 1},  {5, 8},   {7, 14},
                                 {8, 15}, {11, 1}, {11, 11}, {12, 25}};
    for (const auto& f : fixed)
        if (f[0] == month && f[1] == day) return true;
    const MonthDay easter = EasterSunday(year);
    const int offset = DayOfYear(year, month, day) - DayOfYear(year, easter.month, easter.day);
    return offset == 1 || offset == 39 || offset == 50;
}

}  // namespace tallimer
