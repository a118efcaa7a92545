// Billing by volume: the meter's bytes priced across the cap, the period's figures, the
// alerts and the file beside the accounts.
#include <gtest/gtest.h>

#include <filesystem>

#include "metering/Volume.h"
#include "tests/metering/MeterFixture.h"

using namespace tallimer;
using tallimer::test::MeterTest;
using tallimer::test::TempDir;

namespace {

// Closes the period as the invoices do: the billing date moves on.
struct ClosingHost : tallimer::test::RecordingHost {
    void closePeriod(Account& a, const std::string& n, DateTime today) override {
        RecordingHost::closePeriod(a, n, today);
        a.nextInvoice = NextBillingDate(a.nextInvoice, a.periodMonths, today);
    }
};

class VolumeTest : public MeterTest {
  protected:
    VolumeBook book;
    VolumeMeter volume{book};
    ClosingHost closing;
    std::uint32_t received = 0xFFFFFFFFu - 1500000, sent = 0;  // wraps on the way

    VolumeTest() {
        meter.setHost(&closing);
        meter.setVolumeCharge(&volume);
        Account& a = account("4G");
        names.name = "4G";
        a.creditDuration = 0;
        a.pricePerSecond = 0.01f;
        a.offPeakPrice = 0.005f;
        a.reductionType = 0;  // "Soirée": from 20:00
        counters.value = LinkCounters{received, sent};
    }
    // One second in which the link moves these bytes.
    void move(std::uint32_t in, std::uint32_t out) {
        received += in;
        sent += out;
        counters.value = LinkCounters{received, sent};
        tick();
    }
};

TEST_F(VolumeTest, AConnectionPaysTheBytesOverTheCapToTheByteThroughAWrapAndNotInFreeHours) {
    const float beyond = 0.05f;
    VolumeAccount& v = book["4G"];
    v.tariff.capBytes = 20 * 1000 * kMo;
    v.tariff.pricePerMoBeyond = beyond;
    v.tariff.offPeakFree = true;
    v.periodBytes = v.tariff.capBytes - 3000000;
    meter.Connect();
    tick();
    const float timeOnly = meter.connectionCost;

    move(2000000, 1000000);  // through the received counter's wrap, up to the cap exactly
    EXPECT_EQ(v.periodBytes, v.tariff.capBytes);
    EXPECT_FLOAT_EQ(meter.connectionCost, timeOnly + 0.01f);  // the second's time, no byte over
    EXPECT_EQ(volume.connectionCost(), 0.0f);
    move(1, 0);
    const float oneByte = static_cast<float>(beyond / 1e6L);
    EXPECT_EQ(volume.connectionCost(), oneByte);
    move(700000, 300000);
    EXPECT_FLOAT_EQ(volume.connectionCost(), oneByte + beyond);  // a whole Mo beyond

    clock.local.hour = 20;  // the reduced rate's hours: free, not counted against the cap
    const std::uint64_t before = v.periodBytes;
    const float costBefore = meter.connectionCost;
    move(5000000, 5000000);
    EXPECT_EQ(v.periodBytes, before);
    EXPECT_EQ(v.freeBytes, 10000000u);
    EXPECT_FLOAT_EQ(meter.connectionCost, costBefore + 0.005f);  // the reduced time only

    EXPECT_EQ(volume.connectionBytes(), 3000001u + 1000000 + 10000000);
    EXPECT_EQ(v.overallBytes, volume.connectionBytes());
    EXPECT_EQ(meter.bytesReceived + meter.bytesSent, volume.connectionBytes());
    meter.Disconnect();
    // The invoice line and the totals hold the volume's cost with the time's.
    EXPECT_EQ(closing.lines.at(0).amount, meter.connectionCost);
    EXPECT_EQ(accounts.find("4G")->periodCost, meter.connectionCost);
    EXPECT_EQ(meter.overallCost, meter.connectionCost);
}

TEST_F(VolumeTest, PrepaidPricesEveryByteAndReceivedOnlyLeavesTheSentOnes) {
    VolumeAccount& v = book["4G"];
    v.tariff.pricePerMo = 0.1f;
    v.tariff.countSent = false;
    meter.Connect();
    tick();
    const float before = meter.connectionCost;
    move(2500000, 9000000);
    EXPECT_EQ(v.periodBytes, 2500000u);
    EXPECT_FLOAT_EQ(volume.connectionCost(), 2.5f * 0.1f);
    EXPECT_FLOAT_EQ(meter.connectionCost, before + 0.01f + volume.connectionCost());

    // The link made again mid-connection: its counters start from zero, which is no 4 Go jump.
    received = 1000;
    counters.value = LinkCounters{received, sent, true};
    tick();
    EXPECT_EQ(v.periodBytes, 2500000u);
    EXPECT_EQ(meter.bytesReceived, 2500000u);
    move(1000000, 0);
    EXPECT_EQ(v.periodBytes, 3500000u);
}

// With no volume tariff the meter's figures are to the bit those of a meter without one.
TEST_F(VolumeTest, NoVolumeTariffChangesNoFigure) {
    book["autre"].tariff.capBytes = kMo;  // another account's tariff changes nothing here
    AccountCollection copy;
    copy.findOrCreate("4G") = *accounts.find("4G");
    tallimer::test::RecordingHost plainHost;
    Meter plain{clock, copy, names, counters, locale};
    plain.setHost(&plainHost);
    meter.Connect();
    plain.Connect();
    for (int i = 0; i < 5; ++i) {
        received += 3000000;
        sent += 1000000;
        counters.value = LinkCounters{received, sent};
        clock.advance(1000);
        meter.TimerTick();
        plain.TimerTick();
    }
    meter.Disconnect();
    plain.Disconnect();
    EXPECT_EQ(meter.overallCost, plain.overallCost);
    EXPECT_EQ(accounts.find("4G")->periodCost, copy.find("4G")->periodCost);
    ASSERT_EQ(closing.lines.size(), 1u);
    EXPECT_EQ(closing.lines[0].amount, plainHost.lines.at(0).amount);
    EXPECT_EQ(book["autre"].periodBytes + volume.connectionBytes(), 0u);
}

TEST_F(VolumeTest, TheClosingStartsThePeriodsVolumeAgainAndACrashBetweenTheFilesToo) {
    Account& a = *accounts.find("4G");
    a.nextInvoice = EncodeDate(2001, 3, 5);  // passed: the next connection closes the period
    VolumeAccount& v = SetVolumeTariff(book, "4G", a, {1000 * kMo, 0.05f, 0, true, false});
    v.periodBytes = 900 * kMo;
    v.overallBytes = 5000 * kMo;
    v.fired = kVolume80;
    const VolumeAccount kept = v;

    closing.failClosing = true;  // the archive fails: the period goes on, its volume too
    EXPECT_THROW(meter.Connect(), Error);
    meter.Disconnect();
    EXPECT_EQ(v.periodBytes, kept.periodBytes);
    EXPECT_EQ(v.fired, kept.fired);

    closing.failClosing = false;
    meter.Connect();
    EXPECT_EQ(v.periodBytes, 0u);
    EXPECT_EQ(v.fired, 0u);
    EXPECT_EQ(v.overallBytes, kept.overallBytes);
    EXPECT_EQ(v.period, a.nextInvoice);
    meter.Disconnect();

    // Loaded after a crash that saved the account file's closing but not this file.
    VolumeBook loaded{{"4G", kept}};
    loaded["4G"].period = EncodeDate(2001, 2, 5);
    a.nextInvoice = EncodeDate(2001, 4, 5);
    ReconcileVolumeBook(loaded, accounts);
    EXPECT_EQ(loaded["4G"].periodBytes, 0u);
    // A billing date moved by hand by a few days keeps the period's figures.
    loaded["4G"] = kept;
    loaded["4G"].period = EncodeDate(2001, 4, 1);
    ReconcileVolumeBook(loaded, accounts);
    EXPECT_EQ(loaded["4G"].periodBytes, kept.periodBytes);
}

// March 2001 billed on the 31st: on the 10th at noon ten whole days are gone of 31, and
// 22 are left, today's included.
TEST(VolumeFiguresTest, TheEstimateAndTheDaysShareOnAHandBuiltPeriod) {
    Account a;
    a.nextInvoice = EncodeDate(2001, 3, 31);
    VolumeAccount v;
    v.period = a.nextInvoice;
    v.tariff.capBytes = 20 * 1000 * kMo;
    v.periodBytes = 4 * 1000 * kMo;
    const DateTime now = EncodeDate(2001, 3, 10) + 0.5;
    const VolumeFigures f = FiguresOf(v, a, now);
    EXPECT_EQ(f.estimate, 4 * 1000 * kMo / 10 * 31);
    EXPECT_EQ(f.daysLeft, 22);
    EXPECT_EQ(f.leftPerDay, (20 - 4) * 1000 * kMo / 22);
    // On the last day the estimate is what was used, and all that is left is for today.
    const VolumeFigures last = FiguresOf(v, a, EncodeDate(2001, 3, 31) + 0.9);
    EXPECT_EQ(last.estimate, v.periodBytes);
    EXPECT_EQ(last.leftPerDay, (20 - 4) * 1000 * kMo);
}

TEST(VolumeAlertsTest, EachIsSaidOnceAndNotAgainAfterARestart) {
    const Locale fr = Locale::french();
    Account a;
    a.nextInvoice = EncodeDate(2001, 3, 31);
    VolumeBook book;
    VolumeAccount& v = book["4G"];
    v.tariff.capBytes = 20 * 1000 * kMo;
    v.periodBytes = 15 * 1000 * kMo;
    DateTime now = EncodeDate(2001, 3, 10) + 0.5;
    EXPECT_TRUE(DueVolumeAlerts(v, a, now, fr).empty());  // the day starts here, under 80 %
    // What the tick compares: a byte short of it nothing is due, at it the day's share is.
    for (std::uint64_t delta : {std::uint64_t{1}, std::uint64_t{0}}) {
        VolumeAccount seen = v;
        seen.periodBytes = NextVolumeAlertBytes(v, a, now) - delta;
        EXPECT_EQ(DueVolumeAlerts(seen, a, now, fr).size(), 1 - delta) << delta;
    }

    v.periodBytes = 16 * 1000 * kMo;  // 80 %, and 1 Go today, beyond the day's 227 Mo
    const auto texts = DueVolumeAlerts(v, a, now, fr);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0],
              "80\u00A0% du volume inclus de la période\u00A0: 16 Go sur 20 Go. "
              "Estimation à la fin de la période\u00A0: 50 Go.");
    EXPECT_EQ(texts[1],
              "Volume du jour au-delà de la part du jour\u00A0: 1 Go pour 227 Mo. "
              "Reste par jour\u00A0: 182 Mo.");
    EXPECT_TRUE(DueVolumeAlerts(v, a, now, fr).empty());

    TempDir dir;
    ASSERT_TRUE(SaveVolumeBook(dir.str() + kVolumeFile, book));
    VolumeBook restarted = LoadVolumeBook(dir.str() + kVolumeFile);
    EXPECT_TRUE(DueVolumeAlerts(restarted["4G"], a, now, fr).empty());
    restarted["4G"].periodBytes = 20 * 1000 * kMo;
    ASSERT_EQ(DueVolumeAlerts(restarted["4G"], a, now, fr).size(), 1u);
    EXPECT_TRUE(DueVolumeAlerts(restarted["4G"], a, now, fr).empty());
    // A new day has a share of its own; beyond the cap there is none to exceed.
    v.periodBytes = 17 * 1000 * kMo;
    EXPECT_EQ(DueVolumeAlerts(v, a, now + 1, fr).size(), 0u);
    v.periodBytes = 18 * 1000 * kMo;
    EXPECT_EQ(DueVolumeAlerts(v, a, now + 1, fr).size(), 1u);
}

TEST(VolumeFileTest, AnyNameComesBackAndADamagedLineIsSkipped) {
    VolumeBook book;
    book[""].tariff.capBytes = 500 * kMo;
    VolumeAccount& odd = book[std::string("a\tb\r\n%41\x1A\xE9", 10)];
    odd.tariff = {20 * 1000 * kMo, 0.05f, 0.1f, false, true};
    odd.period = EncodeDate(2001, 3, 31);
    odd.periodBytes = 123456789012ull;
    odd.overallBytes = 0xFFFFFFFFFFFull;
    odd.fired = kVolume80 | kVolumeDay;
    book["Orange 4G"].tariff.pricePerMoBeyond = 1.5f;

    const std::string bytes = VolumeBookBytes(book);
    EXPECT_EQ(ParseVolumeBook(bytes), book);
    EXPECT_NE(bytes.find("\t0.05\t0.1\t0\t1\t"), std::string::npos);  // C-locale numbers
    EXPECT_EQ(bytes.find('\n'), bytes.find("\r\n") + 1);

    // A line cut short, or with a field that is not its number, goes; the others stay.
    const std::string good = "Orange 4G\t500000000\t0\t0\t1\t0\t0\t0\t0\t0\t0\t0\t0\r\n";
    for (const char* bad :
         {"x\t1\t0\t0\t1\t0\t0\t0\t0\t0\t0\t0", "x\t1 Go\t0\t0\t1\t0\t0\t0\t0\t0\t0\t0\t0",
          "x\t1\t-1\t0\t1\t0\t0\t0\t0\t0\t0\t0\t0", "x\t1\tnan\t0\t1\t0\t0\t0\t0\t0\t0\t0\t0",
          "x\t1\t0\t0\t2\t0\t0\t0\t0\t0\t0\t0\t0", "%4\t1\t0\t0\t1\t0\t0\t0\t0\t0\t0\t0\t0"})
        EXPECT_EQ(ParseVolumeBook(bad + ("\r\n" + good)), ParseVolumeBook(good)) << bad;

    TempDir dir;  // no tariff: no file
    EXPECT_TRUE(SaveVolumeBook(dir.str() + kVolumeFile, {}));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / kVolumeFile));
}

// Only an offer: the desktop's word sets nothing.
TEST(VolumeOfferTest, AMeteredLinkOffersATariffToAnAccountWithNone) {
    tallimer::test::FakeMeteredLink link;
    VolumeBook book{{"4G", {}}};
    EXPECT_FALSE(OffersVolumeTariff(book, "Mobile", link));
    link.metered = true;
    EXPECT_TRUE(OffersVolumeTariff(book, "Mobile", link) && !OffersVolumeTariff(book, "4G", link));
    EXPECT_EQ(book.size(), 1u);
}

TEST(VolumeTextTest, TypedVolumesAndPricesAndTheirTexts) {
    EXPECT_EQ(ParseVolumeText("500 Mo"), 500 * kMo);
    EXPECT_EQ(ParseVolumeText(" 20 Go "), 20 * 1000 * kMo);
    EXPECT_EQ(ParseVolumeText("1,5 Go"), 1500 * kMo);
    EXPECT_EQ(ParseVolumeText("1.5go"), 1500 * kMo);
    for (const char* bad : {"", "12", "1,5,0 Go", "-1 Go", "Go", "1 Gb", "1 000 Mo"}) {
        EXPECT_FALSE(ParseVolumeText(bad)) << bad;
        EXPECT_EQ(VolumeRefusal(bad),
                  "«\u00A0" + std::string(bad) +
                      "\u00A0» n'est pas un volume correct\u00A0: tapez un nombre et son unité, "
                      "par exemple 500 Mo, 20 Go ou 1,5 Go.");
    }
    EXPECT_EQ(VolumeRefusal("1,5 Go"), "");
    EXPECT_EQ(ParsePricePerMo("0,05"), 0.05f);
    EXPECT_NE(PricePerMoRefusal("-0,05"), "");

    const Locale fr = Locale::french();
    EXPECT_EQ(VolumeText(999, fr), "999 o");
    EXPECT_EQ(VolumeText(1500, fr), "1,5 ko");
    EXPECT_EQ(VolumeText(850 * kMo, fr), "850 Mo");
    EXPECT_EQ(VolumeText(1500 * kMo, fr), "1,5 Go");
    EXPECT_EQ(VolumeText(2 * 1000 * kMo, fr), "2 Go");
    EXPECT_EQ(VolumeText(1049 * kMo / 100, fr), "10 Mo");    // 10,49: whole from 10
    EXPECT_EQ(VolumeText(999600 * 1000, fr), "1 Go");        // 999,6 Mo rounds to 1000
    EXPECT_EQ(VolumeText(2250 * kMo / 1000, fr), "2,3 Mo");  // 2,25 half away from zero

    // What the settings show again reads back as what was set.
    for (std::uint64_t bytes :
         {std::uint64_t{500}, 1500 * kMo, std::uint64_t{1234567800}, std::uint64_t{999999999999}})
        EXPECT_EQ(ParseVolumeText(VolumeFieldText(bytes, fr)), bytes) << bytes;
    for (float price : {0.05f, 0.0049f, 0.00001f, 12.5f})
        EXPECT_EQ(ParsePricePerMo(PricePerMoText(price, fr)), price) << price;
}

}  // namespace
