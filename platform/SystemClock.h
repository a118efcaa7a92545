#pragma once
// The machine's clock: UTC time of day, the local calendar with its time zone, and the
// monotonic clock, which does not run during a suspend.
#include "support/Clock.h"

namespace tallimer {

class SystemClock : public Clock {
  public:
    std::int32_t utcMsOfDay() const override;
    LocalDateTime localNow() const override;
    std::int64_t monotonicMs() const override;
};

// The one system clock of the program.
const Clock& TheSystemClock();

}  // namespace tallimer
