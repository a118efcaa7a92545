#pragma once
// Number texts shown to and typed by the user: the locale's decimal separator, no thousands
// separator. The data files use the C conventions instead (accounts/AccountFiles).
#include <cstdint>
#include <string>

#include "support/Locale.h"

namespace tallimer {

// Fixed-point text of `value`: rounded half away from zero, on the float's exact binary
// value, to at most `precision` significant digits and `digits` decimals, then written with
// exactly `digits` decimals. A value with more than `precision` integer digits is written in
// exponent form instead ("1,235E4", "1E7").
std::string FormatFixed(float value, int precision, int digits, const Locale& locale);

// Amounts of the main window (precision 7), of the invoices and the price dialog (precision
// 4), and rates (precision 6, one decimal).
inline std::string AmountText(float v, const Locale& l) {
    return FormatFixed(v, 7, 2, l);
}
inline std::string InvoiceAmountText(float v, const Locale& l) {
    return FormatFixed(v, 4, 2, l);
}
inline std::string RateText(float v, const Locale& l) {
    return FormatFixed(v, 6, 1, l);
}

// Reads a typed number in the user's conventions: blanks around it, optional sign, digits
// with the locale's decimal separator, optional exponent; no thousands separator, no
// currency sign. Raises ConversionError::floating otherwise, and for values beyond a float.
float TextToFloat(const std::string& text, const Locale& locale);

// Reads a typed integer: leading blanks, optional sign, decimal digits, or hexadecimal after
// "$" or "0x"; nothing may follow. Raises ConversionError::integer outside 32 bits.
std::int32_t TextToInt(const std::string& text);

}  // namespace tallimer
