#pragma once
// French public holidays, for the accounts that bill them as week-end days.
namespace tallimer {

struct MonthDay {
    unsigned month = 0, day = 0;
};

// Easter Sunday of a Gregorian year.
MonthDay EasterSunday(int year);
// New Year, Easter Monday, 1 and 8 May, Ascension, Whit Monday, 14 July, 15 August,
// 1 and 11 November, Christmas.
bool IsFrenchHoliday(int year, unsigned month, unsigned day);

}  // namespace tallimer
