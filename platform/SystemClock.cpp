#include "platform/SystemClock.h"

#include <time.h>

namespace tallimer {

std::int32_t SystemClock::utcMsOfDay() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    long long ms = static_cast<long long>(ts.tv_sec % 86400) * 1000 + ts.tv_nsec / 1000000;
    return static_cast<std::int32_t>(ms);
}

LocalDateTime SystemClock::localNow() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    localtime_r(&ts.tv_sec, &t);
    return LocalDateTime{t.tm_year + 1900,
                         t.tm_mon + 1,
                         t.tm_mday,
                         t.tm_hour,
                         t.tm_min,
                         t.tm_sec,
                         static_cast<int>(ts.tv_nsec / 1000000),
                         t.tm_wday + 1};
}

std::int64_t SystemClock::monotonicMs() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

const Clock& TheSystemClock() {
    static const SystemClock clock;
    return clock;
}

}  // namespace tallimer
