#pragma once
// The user's regional settings, read from Qt's default locale (the system's unless a test
// sets another).
#include "support/Locale.h"

namespace tallimer {

Locale SystemLocale();

}  // namespace tallimer
