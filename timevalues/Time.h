#pragma once
// msTIME: a duration or a time of day in milliseconds, signed 32 bits, wrapping.
#include <cstdint>
#include <iosfwd>
#include <string>

#include "support/Clock.h"

namespace tallimer {

struct msTIME {
    std::int32_t totalMs = 0;
    // Breakdown cache written by Split (and FromText); never part of the value.
    std::int32_t hours = 0;
    std::int32_t minutes = 0;
    std::int32_t seconds = 0;
    std::int32_t msPart = 0;

    msTIME() = default;
    msTIME(std::int32_t n) : totalMs(n) {}  // NOLINT: the value type converts from integers
    msTIME(const msTIME& o) : totalMs(o.totalMs) {}
    msTIME& operator=(const msTIME& o) {
        totalMs = o.totalMs;
        return *this;
    }
    msTIME& operator=(std::int32_t n) {
        totalMs = n;
        return *this;
    }

    friend msTIME operator+(const msTIME& a, const msTIME& b);
    friend msTIME operator-(const msTIME& a, const msTIME& b);
    bool operator==(std::int32_t n) const { return totalMs == n; }
    bool operator>(std::int32_t n) const { return totalMs > n; }
    bool operator==(const msTIME& o) const { return totalMs == o.totalMs; }

    static msTIME Hms(std::int32_t h, std::int32_t m, std::int32_t s, std::int32_t ms);
    void FromHms(std::int32_t h, std::int32_t m, std::int32_t s, std::int32_t ms);
    void FromClock(const Clock& clock);  // UTC time of day; the date is ignored
    void Split();
    std::int32_t Hours();
    std::string ToText();
    std::string ToText() const;
    // Parses "h:m:s"; raises ConversionError::integer on a bad piece, totalMs unchanged.
    void FromText(std::string text);
};

// Wrapping 32-bit arithmetic, computed unsigned so overflow is defined.
inline std::int32_t WrapAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t WrapSub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// A running total of time (an account's period, every period): whole past 2^31 ms, where an
// msTIME would wrap after 596 hours. Its text and its file form are an msTIME's for any
// value that fits one.
struct TotalTime {
    std::int64_t totalMs = 0;

    TotalTime() = default;
    TotalTime(std::int64_t n) : totalMs(n) {}  // NOLINT: converts from integers as msTIME does
    TotalTime(const msTIME& t) : totalMs(t.totalMs) {}  // NOLINT

    // Counted time added; held at the largest total rather than wrapping.
    friend TotalTime operator+(const TotalTime& a, const msTIME& b);
    bool operator==(std::int64_t n) const { return totalMs == n; }
    bool operator==(const TotalTime& o) const { return totalMs == o.totalMs; }
    std::string ToText() const;
};

std::ostream& operator<<(std::ostream& out, const msTIME& t);
std::istream& operator>>(std::istream& in, msTIME& t);

}  // namespace tallimer
