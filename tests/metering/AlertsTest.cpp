#include <gtest/gtest.h>

#include "metering/Alerts.h"
#include "tests/metering/MeterFixture.h"

using namespace tallimer;
using tallimer::test::MeterTest;
using tallimer::test::ReadFile;
using tallimer::test::TempDir;

namespace {

using HolidayTariffTest = MeterTest;

// Ascension 2026, Thursday 14 May, 10:00: a weekday for the tariff unless the account
// counts holidays as week-end days.
TEST_F(HolidayTariffTest, HolidayGetsTheWeekendRateOnlyWhenTheAccountAsks) {
    clock.local = {2026, 5, 14, 10, 0, 0, 0, 5};
    AlertSettings settings;
    meter.holidaysAsWeekend = [&](const std::string& name) {
        auto it = settings.find(name);
        return it != settings.end() && it->second.holidaysAsWeekend;
    };
    Account& a = account("fai");
    names.name = "fai";
    a.creditDuration = 0;
    a.reductionType = 1;  // "Soir et week-end"
    a.pricePerSecond = 0.01f;
    a.offPeakPrice = 0.004f;
    a.packageEnabled = true;
    a.packageCharged = true;
    a.packageType = 2;  // "Nuit et Week-end"
    a.packageRemaining = 0;
    meter.Connect();
    tick(1);
    tick();
    EXPECT_EQ(meter.rateIcon, 1);
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.01f);

    settings["fai"].holidaysAsWeekend = true;
    tick();
    EXPECT_EQ(meter.rateIcon, 2);
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.014f);

    a.packageRemaining = 60000;  // package time now applies on the holiday
    tick();
    EXPECT_EQ(meter.rateIcon, 3);
    EXPECT_EQ(a.packageRemaining.totalMs, 59000);

    clock.local.day = 15;  // the Friday after: a weekday again
    clock.local.dayOfWeek = 6;
    tick();
    EXPECT_EQ(meter.rateIcon, 1);
    EXPECT_EQ(a.packageRemaining.totalMs, 59000);
}

// Each threshold once per period, remembered through the file; a new period starts again.
TEST(AlertsTest, ThresholdsFireOncePerPeriodAcrossAReload) {
    const Locale locale = Locale::french();
    TempDir dir;
    const std::string path = dir.str() + kAlertSettingsFile;
    Account a;
    a.nextInvoice = EncodeDate(2026, 5, 31);  // period 1 to 31 May
    a.packageEnabled = true;
    a.packageDuration = 10 * 3600000;
    a.packageRemaining = 2 * 3600000;
    AlertSettings settings;
    settings["fai"].budget = 20;
    const DateTime day10 = EncodeDate(2026, 5, 10) + 0.5;

    auto due = [&](float cost) {
        a.periodCost = cost;
        auto texts = DueAlerts(a, settings["fai"], day10, locale);
        EXPECT_TRUE(SaveAlertSettings(path, settings));
        settings = LoadAlertSettings(path);
        return texts;
    };
    EXPECT_TRUE(due(15.9f).empty());
    auto texts = due(16);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0],
              "80\u00A0% du budget de la période\u00A0: 16,00 € sur 20,00 €. "
              "Estimation à la fin de la période\u00A0: 49,60 €.");
    EXPECT_TRUE(due(19).empty());
    texts = due(20);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0],
              "Budget de la période atteint\u00A0: 20,00 € pour 20,00 €. "
              "Estimation à la fin de la période\u00A0: 62,00 €.");
    EXPECT_TRUE(due(25).empty());

    a.packageRemaining = 3600000 - 1;  // under a tenth of the package
    texts = due(25);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0],
              "Forfait presque épuisé\u00A0: il reste 00:59:59 sur 10:00:00. "
              "Estimation à la fin de la période\u00A0: 77,50 €.");
    EXPECT_TRUE(due(25).empty());

    // The next period: a jump straight past the budget says it once, not twice.
    a.nextInvoice = EncodeDate(2026, 6, 30);
    a.packageRemaining = 10 * 3600000;
    texts = due(30);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("Budget de la période atteint\u00A0: 30,00 €", 0), 0u);
    EXPECT_TRUE(due(30).empty());

    // A level of its own replaces the tenth.
    settings["fai"].packageLevelMs = 5 * 3600000;
    settings["fai"].fired &= ~unsigned(kPackageLow);
    a.packageRemaining = 5 * 3600000 - 1000;
    EXPECT_EQ(due(30).size(), 1u);
}

TEST(AlertsTest, SettingsFileBytesAndTolerantReading) {
    AlertSettings s;
    s["Orange"] = {true, 12.5f, 1800000, 46173, 5};
    s["zz"] = {};               // defaults: not written
    s["bad\tname"].budget = 3;  // a line cannot hold it
    s["Wanadoo"].budget = 0.1f;
    const std::string bytes = AlertSettingsBytes(s);
    EXPECT_EQ(bytes,
              "Orange\t1\t12.5\t1800000\t46173\t5\r\n"
              "Wanadoo\t0\t0.1\t-1\t0\t0\r\n");
    TempDir dir;
    const std::string path = dir.str() + kAlertSettingsFile;
    ASSERT_TRUE(SaveAlertSettings(path, s));
    EXPECT_EQ(ReadFile(path), bytes);
    AlertSettings back = LoadAlertSettings(path);
    EXPECT_EQ(back.size(), 2u);
    EXPECT_EQ(back["Orange"], s["Orange"]);
    EXPECT_EQ(back["Wanadoo"], s["Wanadoo"]);

    // A damaged file loads what it can.
    // The account of no name is one: its line is kept.
    back = ParseAlertSettings("A\t1\tx\t-5\tnan\t99\nB\r\n\t1\t0.5\r\nC\t0\t-3\t60000\n");
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[""], (AccountAlerts{true, 0.5f, -1, 0, 0}));
    EXPECT_EQ(back["A"], (AccountAlerts{true, 0, -5, 0, 3}));
    EXPECT_EQ(back["C"], (AccountAlerts{false, 0, 60000, 0, 0}));

    EXPECT_EQ(ParseDurationText("1:30"), 5400000);
    EXPECT_EQ(ParseDurationText("0:05:07"), 307000);
    EXPECT_FALSE(ParseDurationText("1:3"));
    EXPECT_FALSE(ParseDurationText("1:75"));
    EXPECT_FALSE(ParseDurationText("abc"));
    EXPECT_FALSE(ParseDurationText(""));
}

}  // namespace
