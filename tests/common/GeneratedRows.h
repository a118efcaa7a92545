#pragma once
// A journal's worth of plausible connections for pictures and benchmarks: evenings and
// week-ends favoured, a credit of 0,74 at each start, then 0,0047 a second or 0,0025 where
// "Soirée" puts the reduced rate.
// Deterministic, so pictures compare from one run to the next.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "metering/Journal.h"
#include "support/Date.h"

namespace tallimer::test {

inline std::string IsoLocal(DateTime t) {
    YearMonthDay d = DecodeDate(t);
    auto s = static_cast<long>((t - static_cast<long>(t)) * 86400.0 + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02ld:%02ld:%02ld", d.year, d.month, d.day,
                  s / 3600 % 24, s / 60 % 60, s % 60);
    return buf;
}

// `count` connections of `account` spread over the `days` days before `lastDay`.
inline std::vector<JournalRow> GeneratedRows(const std::string& account, std::size_t count,
                                             DateTime lastDay, int days = 365) {
    std::vector<JournalRow> rows;
    rows.reserve(count);
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    static const int hours[] = {8, 9, 12, 13, 18, 19, 20, 20, 21, 21, 21, 22, 22, 23, 0, 14};
    for (std::size_t i = 0; i < count; ++i) {
        DateTime day =
            lastDay - days + 1 + static_cast<double>(i) * days / static_cast<double>(count);
        day = static_cast<long>(day);
        int hour = hours[next(16)];
        DateTime start = day + (hour * 3600.0 + next(3600)) / 86400.0;
        std::int64_t ms = (120 + next(5400)) * 1000LL;
        int weekday = static_cast<int>((static_cast<long>(day) % 7 + 7 + 5) % 7);  // Monday 0
        bool reduced = hour < 8 || hour >= 20 || weekday >= 5;
        JournalRow r;
        r.id = static_cast<std::int64_t>(i) + 1;
        r.account = account;
        r.startLocal = IsoLocal(start);
        r.endLocal = IsoLocal(start + ms / 86400000.0);
        r.durationMs = ms;
        r.creditMs = std::min<std::int64_t>(ms, 180000);
        (reduced ? r.reducedMs : r.normalMs) = ms - r.creditMs;
        float price = reduced ? 0.0025f : 0.0047f;
        r.cost = 0.74f + static_cast<float>((ms - r.creditMs) / 1000) * price;
        r.address = "10.0.0." + std::to_string(1 + next(200));
        r.bytesReceived = static_cast<std::uint64_t>(ms) * (200 + next(4000));
        r.bytesSent = r.bytesReceived / 8;
        r.end = next(50) ? JournalEnd::Normal : JournalEnd::CutShort;
        rows.push_back(std::move(r));
    }
    return rows;
}

}  // namespace tallimer::test
