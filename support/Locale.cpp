#include "support/Locale.h"

namespace tallimer {

Locale Locale::french() {
    return Locale{",",
                  {"janv.", "févr.", "mars", "avr.", "mai", "juin", "juil.", "août", "sept.",
                   "oct.", "nov.", "déc."}};
}

Locale Locale::english() {
    return Locale{
        ".", {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"}};
}

}  // namespace tallimer
