#include "timevalues/Time.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/Errors.h"
#include "tests/common/Fakes.h"

using tallimer::ConversionError;
using tallimer::msTIME;

namespace {

std::string Text(std::int32_t ms) {
    return msTIME(ms).ToText();
}

msTIME Parse(const std::string& s) {
    msTIME t;
    t.FromText(s);
    return t;
}

TEST(MsTimeText, ShowsHoursMinutesSecondsWithMillisecondsDropped) {
    EXPECT_EQ(Text(0), "00:00:00");
    EXPECT_EQ(Text(5025000), "01:23:45");
    EXPECT_EQ(Text(3599999), "00:59:59");
    EXPECT_EQ(Text(360000000), "100:00:00");
    EXPECT_EQ(Text(2147483647), "596:31:23");
    EXPECT_EQ(Text(90000000), "25:00:00");
}

TEST(MsTimeText, NegativePartsKeepTheirSignAfterTheLeadingZero) {
    EXPECT_EQ(Text(-1500), "00:00:0-1");
    EXPECT_EQ(Text(-61000), "00:0-1:0-1");
    EXPECT_EQ(Text(-500), "00:00:00");
    EXPECT_EQ(Text(-2000), "00:00:0-2");
    EXPECT_EQ(Text(-3600000 * 12), "0-12:00:00");
}

TEST(MsTimeParse, ReadsHoursMinutesSeconds) {
    EXPECT_EQ(Parse("12:34:56").totalMs, 45296000);
    msTIME t = Parse("1:2:3");
    EXPECT_EQ(t.totalMs, 3723000);
    EXPECT_EQ(t.ToText(), "01:02:03");
    EXPECT_EQ(Parse("12:34").totalMs, 43200000);
    EXPECT_EQ(Parse("1234").totalMs, 0);
    EXPECT_EQ(Parse("99:99:99").totalMs, 362439000);
    EXPECT_EQ(Parse("99:99:99").ToText(), "100:40:39");
    EXPECT_EQ(Parse(" 1: +2:$A").totalMs, 3600000 + 120000 + 10000);
    EXPECT_EQ(Parse("0x10:0:0").totalMs, 16 * 3600000);
    EXPECT_EQ(Parse("-1:0:0").totalMs, -3600000);
}

TEST(MsTimeParse, BadPiecesRaiseTheFrenchErrorAndKeepTheValue) {
    msTIME t(777);
    auto expectError = [&](const std::string& text, const std::string& message) {
        try {
            t.FromText(text);
            ADD_FAILURE() << "no error for " << text;
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.what(), message);
        }
        EXPECT_EQ(t.totalMs, 777);
    };
    expectError("1:2:3:4", "'3:4' n'est pas une valeur entière correcte");
    expectError(":12:00", "'' n'est pas une valeur entière correcte");
    expectError("1:2:3 ", "'3 ' n'est pas une valeur entière correcte");
    expectError("1:x:3", "'x' n'est pas une valeur entière correcte");
    expectError("2147483648:0:0", "'2147483648' n'est pas une valeur entière correcte");
    expectError("99999999999999999999:0:0",
                "'99999999999999999999' n'est pas une valeur entière correcte");
    expectError("$:0:0", "'$' n'est pas une valeur entière correcte");
    expectError("1:-:0", "'-' n'est pas une valeur entière correcte");
}

TEST(MsTimeArithmetic, WrapsAtThirtyTwoBits) {
    msTIME max(2147483647);
    msTIME wrapped = max + msTIME(1);
    EXPECT_EQ(wrapped.totalMs, -2147483647 - 1);
    EXPECT_EQ((wrapped - msTIME(1)).totalMs, 2147483647);
    EXPECT_EQ(msTIME::Hms(25, 0, 0, 0).totalMs, 90000000);
    EXPECT_EQ(msTIME::Hms(1000, 0, 0, 0).totalMs, static_cast<std::int32_t>(3600000000u));
    EXPECT_TRUE(msTIME(5) > 4);
    EXPECT_FALSE(msTIME(-5) > 4);
    EXPECT_TRUE(msTIME(0) == 0);
}

TEST(MsTimeArithmetic, SplitTruncatesTowardZero) {
    msTIME t(-3723500);
    t.Split();
    EXPECT_EQ(t.hours, -1);
    EXPECT_EQ(t.minutes, -2);
    EXPECT_EQ(t.seconds, -3);
    EXPECT_EQ(t.msPart, -500);
    EXPECT_EQ(msTIME(23 * 3600000 + 59 * 60000).Hours(), 23);
}

TEST(MsTimeClock, ReadsTheUtcTimeOfDay) {
    tallimer::test::FakeClock clock;
    msTIME t;
    clock.utc = 86399999;
    t.FromClock(clock);
    EXPECT_EQ(t.totalMs, 86399999);
    clock.utc = 0;
    t.FromClock(clock);
    EXPECT_EQ(t.totalMs, 0);
}

TEST(MsTimeStream, RoundTripsNegativeAndExtremeValues) {
    for (std::int32_t v : {0, 1, -1, 3725000, -2147483647 - 1, 2147483647}) {
        std::stringstream s;
        s << msTIME(v) << ' ';
        msTIME back(42);
        s >> back;
        EXPECT_EQ(back.totalMs, v);
    }
    std::stringstream bad("abc");
    msTIME keep(9);
    bad >> keep;
    EXPECT_TRUE(bad.fail());
    EXPECT_EQ(keep.totalMs, 9);
}

}  // namespace
