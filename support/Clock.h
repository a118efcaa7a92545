#pragma once
// The clock seam: the UTC time of day, the local calendar for tariffs and dates, and a
// monotonic reading for elapsed time. The Linux source is platform/SystemClock; tests use a
// fake.
#include <cstdint>

namespace tallimer {

struct LocalDateTime {
    int year = 1899, month = 12, day = 30;  // local calendar date
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    int dayOfWeek = 7;  // 1 Sunday ... 7 Saturday
};

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds since 00:00:00.000 UTC today, 0 .. 86,399,999.
    virtual std::int32_t utcMsOfDay() const = 0;
    virtual LocalDateTime localNow() const = 0;
    // Milliseconds from an arbitrary origin, never going back. Steps of the wall clock do
    // not move it, and it stands still while the machine is suspended.
    virtual std::int64_t monotonicMs() const = 0;
};

}  // namespace tallimer
