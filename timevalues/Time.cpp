#include "timevalues/Time.h"

#include <cstdint>
#include <istream>
#include <ostream>

#include "support/NumberText.h"

namespace tallimer {

msTIME operator+(const msTIME& a, const msTIME& b) {
    return msTIME(WrapAdd(a.totalMs, b.totalMs));
}
msTIME operator-(const msTIME& a, const msTIME& b) {
    return msTIME(WrapSub(a.totalMs, b.totalMs));
}

TotalTime operator+(const TotalTime& a, const msTIME& b) {
    std::int64_t sum;
    if (__builtin_add_overflow(a.totalMs, std::int64_t{b.totalMs}, &sum))
        sum = b.totalMs < 0 ? INT64_MIN : INT64_MAX;
    return TotalTime(sum);
}

msTIME msTIME::Hms(std::int32_t h, std::int32_t m, std::int32_t s, std::int32_t ms) {
    std::uint32_t v = static_cast<std::uint32_t>(h) * 3600000u +
                      static_cast<std::uint32_t>(m) * 60000u +
                      static_cast<std::uint32_t>(s) * 1000u + static_cast<std::uint32_t>(ms);
    return msTIME(static_cast<std::int32_t>(v));
}

void msTIME::FromHms(std::int32_t h, std::int32_t m, std::int32_t s, std::int32_t ms) {
    totalMs = Hms(h, m, s, ms).totalMs;
}

void msTIME::FromClock(const Clock& clock) {
    totalMs = clock.utcMsOfDay();
}

void msTIME::Split() {
    std::int32_t totalSeconds = totalMs / 1000;
    msPart = totalMs % 1000;
    hours = totalSeconds / 3600;
    std::int32_t rest = totalSeconds % 3600;
    minutes = rest / 60;
    seconds = rest % 60;
}

std::int32_t msTIME::Hours() {
    Split();
    return hours;
}

namespace {

std::string Piece(std::int32_t part) {
    return part < 10 ? "0" + std::to_string(part) : std::to_string(part);
}

}  // namespace

std::string msTIME::ToText() {
    Split();
    return Piece(hours) + ":" + Piece(minutes) + ":" + Piece(seconds);
}

std::string TotalTime::ToText() const {
    // Parts split as msTIME splits them, so what fits one reads the same.
    const std::int64_t totalSeconds = totalMs / 1000;
    const std::int64_t rest = totalSeconds % 3600;
    auto piece = [](std::int64_t part) {
        return part < 10 ? "0" + std::to_string(part) : std::to_string(part);
    };
    return piece(totalSeconds / 3600) + ":" + piece(rest / 60) + ":" + piece(rest % 60);
}

std::string msTIME::ToText() const {
    msTIME copy(*this);
    return copy.ToText();
}

void msTIME::FromText(std::string text) {
    hours = minutes = seconds = 0;
    auto first = text.find(':');
    if (first != std::string::npos) {
        hours = TextToInt(text.substr(0, first));
        std::string rest = text.substr(first + 1);
        auto second = rest.find(':');
        if (second != std::string::npos) {
            minutes = TextToInt(rest.substr(0, second));
            seconds = TextToInt(rest.substr(second + 1));
        }
    }
    FromHms(hours, minutes, seconds, 0);
}

std::ostream& operator<<(std::ostream& out, const msTIME& t) {
    return out << t.totalMs;
}

std::istream& operator>>(std::istream& in, msTIME& t) {
    std::int32_t v;
    if (in >> v) t.totalMs = v;
    return in;
}

}  // namespace tallimer
