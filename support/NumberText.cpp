#include "support/NumberText.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "support/Errors.h"

namespace tallimer {

namespace {

// Exact decimal expansion of a float: digits d0 d1 ... and exponent e, value = d0.d1... x 10^e.
// 120 significant digits hold every float exactly.
struct Decimal {
    std::string digits;
    int exponent = 0;
};

Decimal ExactDecimal(float magnitude) {
    char buf[160];
    auto res = std::to_chars(buf, buf + sizeof buf, static_cast<double>(magnitude),
                             std::chars_format::scientific, 120);
    std::string s(buf, res.ptr);
    Decimal d;
    auto e = s.find('e');
    d.exponent = std::atoi(s.c_str() + e + 1);
    for (std::size_t i = 0; i < e; ++i)
        if (s[i] != '.') d.digits.push_back(s[i]);
    while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

// Keeps `keep` significant digits, rounding half away from zero. keep may be 0 or negative.
void RoundTo(Decimal& d, int keep) {
    if (keep < 0) {
        d = Decimal{"0", 0};
        return;
    }
    if (keep >= static_cast<int>(d.digits.size())) return;
    bool up = d.digits[keep] >= '5';
    d.digits.resize(keep);
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
        if (i < 0) {
            d.digits.insert(d.digits.begin(), '1');
            d.exponent += 1;
        } else {
            d.digits[i] += 1;
        }
    }
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    if (d.digits.empty()) d = Decimal{"0", 0};
}

bool IsZero(const Decimal& d) {
    return d.digits == "0";
}

}  // namespace

std::string FormatFixed(float value, int precision, int digits, const Locale& locale) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    Decimal d = ExactDecimal(std::fabs(value));
    if (value == 0) d = Decimal{"0", 0};
    if (!IsZero(d)) RoundTo(d, std::min(precision, d.exponent + 1 + digits));
    std::string out = (std::signbit(value) && !IsZero(d)) ? "-" : "";

    if (!IsZero(d) && d.exponent + 1 > precision) {
        // Too many integer digits for the precision: exponent form, trailing zeros dropped.
        out += d.digits[0];
        if (d.digits.size() > 1) out += locale.decimalSeparator + d.digits.substr(1);
        return out + "E" + std::to_string(d.exponent);
    }
    auto digitAt = [&](int power) {  // digit of 10^power
        int idx = d.exponent - power;
        return (idx >= 0 && idx < static_cast<int>(d.digits.size())) ? d.digits[idx] : '0';
    };
    if (d.exponent < 0 || IsZero(d)) {
        out += '0';
    } else {
        for (int p = d.exponent; p >= 0; --p) out += digitAt(p);
    }
    if (digits > 0) {
        out += locale.decimalSeparator;
        for (int p = -1; p >= -digits; --p) out += IsZero(d) ? '0' : digitAt(p);
    }
    return out;
}

namespace {

// Power of ten of the leading significant digit of a C-form number ("0.05e3" gives 1).
long DecimalMagnitude(const std::string& c) {
    long exponent = 0;
    auto e = c.find('e');
    if (e != std::string::npos) {
        const char* p = c.c_str() + e + 1;
        if (*p == '+') ++p;
        auto r = std::from_chars(p, c.c_str() + c.size(), exponent);
        if (r.ec != std::errc()) exponent = (*p == '-') ? -1000000 : 1000000;
    }
    std::string mantissa = c.substr(0, e);
    if (!mantissa.empty() && (mantissa[0] == '-' || mantissa[0] == '+')) mantissa.erase(0, 1);
    auto point = mantissa.find('.');
    long integerDigits = static_cast<long>(point == std::string::npos ? mantissa.size() : point);
    for (char ch : mantissa) {
        if (ch >= '1' && ch <= '9') break;
        if (ch == '0') --integerDigits;
        if (ch == '.') integerDigits = 0;
    }
    return integerDigits - 1 + exponent;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || (c > 0 && c < ' ');
}

}  // namespace

float TextToFloat(const std::string& text, const Locale& locale) {
    auto fail = [&]() { return ConversionError::floating(text); };
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    // Rewrite into the C form, checking the grammar as we go.
    std::string c;
    std::size_t i = b;
    if (i < e && (text[i] == '+' || text[i] == '-')) c += text[i++];
    int mantissaDigits = 0;
    while (i < e && text[i] >= '0' && text[i] <= '9') c += text[i++], ++mantissaDigits;
    const std::string& sep = locale.decimalSeparator;
    if (!sep.empty() && text.compare(i, sep.size(), sep) == 0 && i + sep.size() <= e) {
        c += '.';
        i += sep.size();
        while (i < e && text[i] >= '0' && text[i] <= '9') c += text[i++], ++mantissaDigits;
    }
    if (mantissaDigits == 0) throw fail();
    if (i < e && (text[i] == 'e' || text[i] == 'E')) {
        c += 'e';
        ++i;
        if (i < e && (text[i] == '+' || text[i] == '-')) c += text[i++];
        int expDigits = 0;
        while (i < e && text[i] >= '0' && text[i] <= '9') c += text[i++], ++expDigits;
        if (expDigits == 0) throw fail();
    }
    if (i != e) throw fail();
    const char* first = c.c_str();
    if (*first == '+') ++first;
    double v = 0;
    auto res = std::from_chars(first, c.c_str() + c.size(), v);
    if (res.ec != std::errc() || res.ptr != c.c_str() + c.size()) {
        // Out of range: too small reads as zero, too large is refused.
        if (res.ec == std::errc::result_out_of_range && DecimalMagnitude(c) < 0) return 0.0f;
        throw fail();
    }
    if (std::fabs(v) > FLT_MAX) throw fail();
    return static_cast<float>(v);
}

std::int32_t TextToInt(const std::string& text) {
    auto fail = [&]() { return ConversionError::integer(text); };
    std::size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i < n && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n) throw fail();
    std::uint64_t magnitude = 0;
    for (; i < n; ++i) {
        char ch = text[i];
        int v;
        if (ch >= '0' && ch <= '9')
            v = ch - '0';
        else if (base == 16 && ch >= 'a' && ch <= 'f')
            v = ch - 'a' + 10;
        else if (base == 16 && ch >= 'A' && ch <= 'F')
            v = ch - 'A' + 10;
        else
            throw fail();
        magnitude = magnitude * base + v;
        if (magnitude > 0x80000000ull) throw fail();
    }
    if (!negative && magnitude > 0x7FFFFFFFull) throw fail();
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<std::int32_t>(magnitude);
}

}  // namespace tallimer
