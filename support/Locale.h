#pragma once
// The user's regional settings as far as the program needs them. Filled once by the
// platform layer; core never asks the C library, whose locale the GUI changes.
#include <array>
#include <string>

namespace tallimer {

struct Locale {
    std::string decimalSeparator = ",";         // UTF-8
    std::array<std::string, 12> shortMonths{};  // "janv.", "févr.", ... UTF-8

    static Locale french();   // the program's home settings, also the fallback
    static Locale english();  // "." and "Jan", "Feb", ...
};

}  // namespace tallimer
