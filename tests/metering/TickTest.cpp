#include <gtest/gtest.h>

#include <cstdint>

#include "tests/metering/MeterFixture.h"

using namespace tallimer;
using tallimer::test::MeterTest;

namespace {

using TickTest = MeterTest;

TEST_F(TickTest, WorkedExampleCreditThenPricedSeconds) {
    Account& a = account();
    a.creditDuration = 180000;
    a.creditPrice = 0.74f;
    a.pricePerSecond = 0.0047f;
    meter.Connect();
    tick(1000);  // the first tick measures 0 ms and pays the credit
    EXPECT_EQ(meter.connectionDuration.totalMs, 0);
    EXPECT_EQ(meter.connectionCost, 0.74f);
    EXPECT_EQ(meter.rateIcon, 1);
    for (int i = 2; i <= 181; ++i) tick();
    EXPECT_EQ(meter.connectionCost, 0.74f);
    EXPECT_EQ(meter.creditRemaining.totalMs, 0);
    tick();  // tick 182 is priced
    EXPECT_EQ(meter.connectionCost, 0.7447f);
    EXPECT_EQ(meter.connectionDuration.totalMs, 181000);
    EXPECT_EQ(a.periodCost, 0.7447f);
    EXPECT_EQ(meter.overallCost, 0.7447f);
    EXPECT_EQ(a.periodDuration.totalMs, 181000);
    EXPECT_EQ(meter.overallDuration.totalMs, 181000);
}

TEST_F(TickTest, WithoutCreditTheFirstTickIsPricedAtZero) {
    Account& a = account();
    a.pricePerSecond = 0.01f;
    meter.Connect();
    tick();
    EXPECT_EQ(meter.connectionCost, 0.0f);
    tick();
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.01f);
    tick(5000);  // a late tick counts its real length
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.06f);
    EXPECT_EQ(meter.connectionDuration.totalMs, 6000);
}

TEST_F(TickTest, PackageIsChargedOncePerPeriodThenUsedUpBeforeTheCredit) {
    Account& a = account();
    a.packageEnabled = true;
    a.packageType = 0;  // "Permanent"
    a.packagePrice = 15.0f;
    a.packageRemaining = 2500;
    a.creditDuration = 60000;
    a.creditPrice = 0.74f;
    meter.Connect();
    tick();
    EXPECT_EQ(meter.connectionCost, 15.0f);
    EXPECT_EQ(a.periodCost, 15.0f);
    EXPECT_TRUE(a.packageCharged);
    ASSERT_EQ(host.lines.size(), 1u);
    EXPECT_EQ(host.lines[0].durationMs, 0);
    EXPECT_EQ(host.lines[0].amount, 15.0f);
    EXPECT_EQ(meter.rateIcon, 3);
    tick();
    tick();
    tick();  // takes the package to -500: still package time
    EXPECT_EQ(a.packageRemaining.totalMs, -500);
    EXPECT_EQ(meter.connectionCost, 15.0f);
    EXPECT_EQ(meter.rateIcon, 3);
    EXPECT_EQ(meter.creditRemaining.totalMs, 60000);  // untouched during package time
    tick();                                           // now priced: the credit begins
    EXPECT_EQ(meter.rateIcon, 1);
    EXPECT_FLOAT_EQ(meter.connectionCost, 15.74f);
    EXPECT_EQ(meter.creditRemaining.totalMs, 59000);
    EXPECT_EQ(host.lines.size(), 1u);  // the fee line is written once
}

TEST_F(TickTest, PackageOfZeroHoursIsStillChargedAndAllTimeIsPriced) {
    Account& a = account();
    a.packageEnabled = true;
    a.packagePrice = 5.0f;
    a.pricePerSecond = 0.5f;
    a.creditDuration = 0;
    meter.Connect();
    tick();
    tick();
    EXPECT_FLOAT_EQ(meter.connectionCost, 5.5f);
    EXPECT_EQ(meter.rateIcon, 1);
}

TEST_F(TickTest, NightPackageOnlyInItsHours) {
    Account& a = account();
    a.packageEnabled = true;
    a.packageCharged = true;
    a.packageType = 1;  // "Nuit"
    a.packageRemaining = 3600000;
    a.pricePerSecond = 0.01f;
    a.creditDuration = 0;
    clock.local.hour = 18;
    clock.local.minute = 59;
    clock.local.second = 58;
    meter.Connect();
    tick();  // 18:59:59: priced (0 ms)
    EXPECT_EQ(meter.rateIcon, 1);
    tick();  // 19:00:00: package
    EXPECT_EQ(meter.rateIcon, 3);
    EXPECT_EQ(a.packageRemaining.totalMs, 3600000 - 1000);
    EXPECT_EQ(meter.connectionCost, 0.0f);
}

TEST_F(TickTest, OffPeakPriceAndDiscounts) {
    Account& a = account();
    a.creditDuration = 0;
    a.reductionType = 0;  // "Soirée"
    a.pricePerSecond = 0.01f;
    a.offPeakPrice = 0.005f;
    a.primalisteInternet = true;
    clock.local.hour = 19;
    clock.local.minute = 59;
    clock.local.second = 59;
    meter.Connect();
    tick(1);  // 20:00:00 local, 0 ms
    tick();
    EXPECT_EQ(meter.rateIcon, 2);
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.004f);  // 0.005 x 0.8
}

TEST_F(TickTest, PrimalisteHalvesFromTwentyTwoHoursUtcOnly) {
    Account& a = account();
    a.creditDuration = 0;
    a.pricePerSecond = 0.01f;
    a.primaliste = true;
    a.primalisteInternet = true;  // ignored when both are set
    auto costAt = [&](std::int32_t utcMs) {
        meter.Disconnect();
        meter.Connect();
        clock.utc = utcMs - 1000;
        meter.TimerTick();
        float before = meter.connectionCost;
        clock.advance(1000);
        meter.TimerTick();
        return meter.connectionCost - before;
    };
    EXPECT_FLOAT_EQ(costAt(22 * 3600000), 0.005f);
    EXPECT_FLOAT_EQ(costAt(23 * 3600000 + 59 * 60000), 0.005f);
    EXPECT_FLOAT_EQ(costAt(21 * 3600000 + 59 * 60000 + 59000), 0.01f);
    EXPECT_FLOAT_EQ(costAt(1000), 0.01f);
}

TEST_F(TickTest, UtcMidnightBetweenTwoTicksAddsTheRealGap) {
    Account& a = account();
    a.creditDuration = 0;
    a.pricePerSecond = 0.01f;
    clock.utc = 86399500;
    meter.Connect();
    meter.TimerTick();
    clock.advance(1000);  // one second later, past midnight
    ASSERT_EQ(clock.utc, 500);
    meter.TimerTick();
    EXPECT_EQ(meter.connectionDuration.totalMs, 1000);
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.01f);
    EXPECT_EQ(meter.overallDuration.totalMs, 1000);
}

// A long-term user's totals pass 596:31:23 and keep growing.
TEST_F(TickTest, TotalsPastThirtyTwoBitsKeepGrowing) {
    Account& a = account();
    a.periodDuration = 2147480000;
    meter.overallDuration = INT64_MAX - 500;
    meter.Connect();
    meter.TimerTick();
    tick(9000);
    EXPECT_EQ(a.periodDuration, 2147489000);
    EXPECT_EQ(meter.overallDuration, INT64_MAX);  // held, never wrapped
    EXPECT_EQ(a.periodDuration.ToText(), "596:31:29");
}

TEST_F(TickTest, WallClockStepsAndSuspendsCountOnlyRealTime) {
    Account& a = account();
    a.creditDuration = 0;
    a.reductionType = 0;  // "Soirée": the local hour still picks the price
    a.pricePerSecond = 0.01f;
    a.offPeakPrice = 0.005f;
    clock.utc = 15 * 3600000;
    clock.local.hour = 16;
    meter.Connect();
    tick();
    std::int64_t start = clock.mono;
    float lastCost = 0;
    std::int32_t lastDuration = 0;
    auto stepThenTick = [&](std::int32_t step, std::int32_t after) {
        clock.stepWall(step);
        tick(after);
        SCOPED_TRACE(testing::Message() << "step " << step);
        EXPECT_EQ(meter.connectionDuration.totalMs, clock.mono - start);
        EXPECT_EQ(a.periodDuration, meter.connectionDuration);
        EXPECT_EQ(meter.overallDuration, meter.connectionDuration);
        EXPECT_GE(meter.connectionCost, lastCost);
        EXPECT_GT(meter.connectionDuration.totalMs, lastDuration);
        lastCost = meter.connectionCost;
        lastDuration = meter.connectionDuration.totalMs;
    };
    stepThenTick(-500, 1000);
    stepThenTick(-2000, 1000);      // before: a whole day
    stepThenTick(-3600000, 1000);   // an hour back
    stepThenTick(3600000, 1000);    // an hour forward, or an hour suspended
    stepThenTick(-86399000, 1000);  // almost a day back
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.05f);
    EXPECT_EQ(meter.rateIcon, 1);

    // A step onto 20:00 local: that tick is priced at the evening rate.
    clock.stepWall(((20 - clock.local.hour) * 60 - clock.local.minute) * 60000);
    tick();
    EXPECT_EQ(meter.rateIcon, 2);
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.055f);

    // Time spent inside a tick (a window that held the loop) is counted by the next one.
    host.duringRefresh = [&] { clock.advance(20000); };
    tick();
    host.duringRefresh = nullptr;
    tick();
    EXPECT_EQ(meter.connectionDuration.totalMs, clock.mono - start);
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.055f + 22 * 0.005f);
}

TEST_F(TickTest, AFailureInTheTickKeepsWhatWasAdded) {
    Account& a = account();
    a.creditDuration = 0;
    a.pricePerSecond = 0.01f;
    meter.Connect();
    tick();
    host.failRefresh = true;
    EXPECT_NO_THROW(tick());
    EXPECT_EQ(meter.connectionDuration.totalMs, 1000);
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.01f);
    host.failRefresh = false;
    tick();  // the failed tick's second is not counted twice
    EXPECT_EQ(meter.connectionDuration.totalMs, 2000);
}

struct Window {
    int dayOfWeek, hour;
    bool night, nightWeekend, evening, eveningWeekend;
};

TEST(TariffWindows, TellingReadings) {
    const Window table[] = {
        {4, 7, true, false, true, false},    {4, 8, false, false, false, false},
        {4, 18, false, false, false, false}, {4, 19, true, false, false, false},
        {4, 20, true, false, true, false},   {7, 12, true, true, true, true},
        {1, 12, true, true, true, true},     {2, 0, true, false, true, false},
        {4, 23, true, false, true, false},
    };
    for (const Window& w : table) {
        CalendarReading r;
        r.dayOfWeek = static_cast<std::uint8_t>(w.dayOfWeek);
        r.hour = static_cast<std::uint16_t>(w.hour);
        Account a;
        SCOPED_TRACE(testing::Message() << "day " << w.dayOfWeek << " hour " << w.hour);
        a.packageType = 1;
        EXPECT_EQ(InPackageHours(a, r), w.night);
        a.packageType = 2;
        EXPECT_EQ(InPackageHours(a, r), w.nightWeekend);
        a.packageType = 0;
        EXPECT_TRUE(InPackageHours(a, r));
        a.packageType = 3;
        EXPECT_FALSE(InPackageHours(a, r));
        a.reductionType = 0;
        EXPECT_EQ(InOffPeakHours(a, r), w.evening);
        a.reductionType = 1;
        EXPECT_EQ(InOffPeakHours(a, r), w.eveningWeekend);
        a.reductionType = -1;
        EXPECT_FALSE(InOffPeakHours(a, r));
    }
}

TEST(AccountDefaults, NewAccountAndCopies) {
    Account a;
    EXPECT_EQ(a.pricePerSecond, 0.26666668f);
    EXPECT_EQ(a.offPeakPrice, 0.5f);
    EXPECT_EQ(a.creditPrice, 0.74f);
    EXPECT_EQ(a.packageType, 1);
    EXPECT_EQ(a.reductionType, 1);
    EXPECT_EQ(a.nextInvoice, 0.0);
    EXPECT_EQ(a.periodMonths, 1);
    Account b = a;
    b.periodCost = 3;
    EXPECT_EQ(a.periodCost, 0.0f);
    EXPECT_EQ(b.periodCost, 3.0f);
}

}  // namespace
