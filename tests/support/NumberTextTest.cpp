#include "support/NumberText.h"

#include <gtest/gtest.h>

#include "support/Errors.h"

using namespace tallimer;

namespace {

const Locale fr = Locale::french();
const Locale en = Locale::english();

TEST(AmountText, RoundsTheFloatsExactValueHalfAwayFromZero) {
    EXPECT_EQ(AmountText(0.0f, fr), "0,00");
    EXPECT_EQ(AmountText(0.7447f, fr), "0,74");
    EXPECT_EQ(AmountText(12.345f, fr), "12,35");  // 12.3450002...
    EXPECT_EQ(AmountText(1234.5f, fr), "1234,50");
    EXPECT_EQ(AmountText(0.125f, fr), "0,13");  // an exact tie goes away from zero
    EXPECT_EQ(AmountText(0.005f, fr), "0,00");  // 0.00499999...
    EXPECT_EQ(AmountText(0.006f, fr), "0,01");
    EXPECT_EQ(AmountText(9999999.0f, fr), "9999999,00");
    EXPECT_EQ(AmountText(12.345f, en), "12.35");
}

TEST(AmountText, NegativeValuesAndNegativeZero) {
    EXPECT_EQ(AmountText(-12.345f, fr), "-12,35");
    EXPECT_EQ(AmountText(-0.125f, fr), "-0,13");
    EXPECT_EQ(AmountText(-0.001f, fr), "0,00");
    EXPECT_EQ(AmountText(-0.0f, fr), "0,00");
    EXPECT_EQ(InvoiceAmountText(-1234.5f, fr), "-1235,00");
}

TEST(InvoiceAmountText, KeepsFourSignificantDigits) {
    EXPECT_EQ(InvoiceAmountText(12.3456f, fr), "12,35");
    EXPECT_EQ(InvoiceAmountText(150.37f, fr), "150,40");
    EXPECT_EQ(InvoiceAmountText(1234.5f, fr), "1235,00");
    EXPECT_EQ(InvoiceAmountText(123.456f, fr), "123,50");
    EXPECT_EQ(InvoiceAmountText(0.74f, fr), "0,74");
    EXPECT_EQ(InvoiceAmountText(0.0047f, fr), "0,00");
}

TEST(FixedText, SwitchesToExponentFormBeyondThePrecision) {
    EXPECT_EQ(InvoiceAmountText(12345.6f, fr), "1,235E4");
    EXPECT_EQ(InvoiceAmountText(9999.5f, fr), "1E4");  // rounding carries past four digits
    EXPECT_EQ(InvoiceAmountText(10000.0f, fr), "1E4");
    EXPECT_EQ(AmountText(12345678.0f, fr), "1,234568E7");
    EXPECT_EQ(AmountText(-12345678.0f, fr), "-1,234568E7");
    EXPECT_EQ(RateText(1234567.0f, fr), "1,23457E6");
}

TEST(FixedText, OtherPrecisionsOfTheSettingsAndRates) {
    EXPECT_EQ(FormatFixed(0.26666668f, 7, 4, fr), "0,2667");
    EXPECT_EQ(FormatFixed(0.5f, 7, 4, fr), "0,5000");
    EXPECT_EQ(RateText(3.25f, fr), "3,3");
    EXPECT_EQ(RateText(0.0f, fr), "0,0");
    EXPECT_EQ(RateText(32.0f, fr), "32,0");
    EXPECT_EQ(RateText(-8.0f, fr), "-8,0");
    EXPECT_EQ(FormatFixed(1.0f, 7, 0, fr), "1");
    EXPECT_EQ(FormatFixed(1e-30f, 7, 2, fr), "0,00");
    EXPECT_EQ(FormatFixed(3.4028235e38f, 7, 2, fr), "3,402823E38");
}

TEST(TextToFloat, ReadsTheLocalesConventions) {
    EXPECT_FLOAT_EQ(TextToFloat("12,5", fr), 12.5f);
    EXPECT_FLOAT_EQ(TextToFloat("  -0,25 ", fr), -0.25f);
    EXPECT_FLOAT_EQ(TextToFloat("+3", fr), 3.0f);
    EXPECT_FLOAT_EQ(TextToFloat("1,5E3", fr), 1500.0f);
    EXPECT_FLOAT_EQ(TextToFloat("2e-2", fr), 0.02f);
    EXPECT_FLOAT_EQ(TextToFloat(",5", fr), 0.5f);
    EXPECT_FLOAT_EQ(TextToFloat("5,", fr), 5.0f);
    EXPECT_FLOAT_EQ(TextToFloat("1.5", en), 1.5f);
    EXPECT_EQ(TextToFloat("1e-60", fr), 0.0f);
}

TEST(TextToFloat, RefusesWhatIsNotANumberWithTheFrenchMessage) {
    for (const char* bad : {"1.5", "", " ", "1 000,5", "12,5 F", "€12", "1,2,3", "e5", "1e", "-",
                            ",", "nan", "inf", "1e400", "-1e39", "0x10", "12,5€"}) {
        try {
            TextToFloat(bad, fr);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.what(), std::string("'") + bad +
                                    "' n'est pas une valeur en virgule flottante correcte");
        }
    }
}

TEST(TextToInt, ReadsDecimalAndHexadecimalWithinThirtyTwoBits) {
    EXPECT_EQ(TextToInt("24"), 24);
    EXPECT_EQ(TextToInt("  -7"), -7);
    EXPECT_EQ(TextToInt("$ff"), 255);
    EXPECT_EQ(TextToInt("0X7fffffff"), 2147483647);
    EXPECT_EQ(TextToInt("-2147483648"), -2147483647 - 1);
    for (const char* bad :
         {"", "2147483648", "-2147483649", "1 ", "1.5", "0x", "$", "+", "x1", "$-1"})
        EXPECT_THROW(TextToInt(bad), ConversionError) << bad;
}

}  // namespace
