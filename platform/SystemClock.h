#pragma once
// The machine's clock: UTC time of day and the local calendar with its time zone.
#include "support/Clock.h"

namespace tallimer {

class SystemClock : public Clock {
  public:
    std::int32_t utcMsOfDay() const override;
    LocalDateTime localNow() const override;
};

// The one system clock of the program.
const Clock& TheSystemClock();

}  // namespace tallimer
