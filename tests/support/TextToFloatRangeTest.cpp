#include <gtest/gtest.h>

#include "support/Errors.h"
#include "support/NumberText.h"

using tallimer::ConversionError;
using tallimer::Locale;
using tallimer::TextToFloat;

namespace {

// Beyond a double the reader cannot see the value: the decimal exponent alone must tell a
// number too large (an error, never a silent zero) from one too small (zero).
TEST(TextToFloatRange, TooLargeIsAnErrorTooSmallIsZero) {
    const Locale fr = Locale::french();
    for (const char* big :
         {"1e999", "-1e999", "1e400", "123456e305", "0,001e312", "1E+99999999999"})
        EXPECT_THROW(TextToFloat(big, fr), ConversionError) << big;
    for (const char* small : {"1e-999", "-1e-400", "0,00015e-330", "123e-400", "1E-99999999999"})
        EXPECT_EQ(TextToFloat(small, fr), 0.0f) << small;
    // Within a double but beyond a float.
    EXPECT_THROW(TextToFloat("1e39", fr), ConversionError);
    EXPECT_EQ(TextToFloat("0e999", fr), 0.0f);
    EXPECT_EQ(TextToFloat("1e38", fr), 1e38f);
}

}  // namespace
