#include <gtest/gtest.h>

#include "invoices/Invoices.h"
#include "metering/JournalKeeper.h"
#include "tests/common/FakeJournal.h"
#include "tests/metering/MeterFixture.h"

using namespace tallimer;
using tallimer::test::FakeJournal;
using tallimer::test::MeterTest;

namespace {

class JournalKeeperTest : public MeterTest {
  protected:
    FakeJournal journal;
    std::vector<std::string> reports;
    JournalKeeper keeper{&journal, clock, meter,
                         [this](const std::string& text) { reports.push_back(text); }};

    void setLocal(int hour, int minute, int second) {
        clock.local.hour = hour;
        clock.local.minute = minute;
        clock.local.second = second;
        clock.utc = ((hour - 1) * 3600 + minute * 60 + second) * 1000;  // UTC+1
    }
};

// Package, then the credit, then the normal price, then the evening's reduced price from
// 20:00, with link counters that wrap many times: the row holds what the meter counted.
TEST_F(JournalKeeperTest, TheRowFollowsTheMeterAcrossPackageCreditAndTheReducedRate) {
    Account& a = account("Maison");
    names.name = "Maison";
    a.packageEnabled = true;
    a.packageType = 0;  // at all hours
    a.packagePrice = 15.0f;
    a.packageRemaining = 3000;
    a.creditDuration = 60000;
    a.creditPrice = 0.74f;
    a.pricePerSecond = 0.01f;
    a.offPeakPrice = 0.005f;
    a.reductionType = 0;  // evenings from 20:00
    setLocal(19, 58, 50);
    std::uint32_t received = 0xFFFFF000u, sent = 100;
    counters.value = LinkCounters{received, sent};

    meter.Connect();
    keeper.connected("10.0.0.1");
    ASSERT_EQ(journal.rows.size(), 1u);
    EXPECT_EQ(journal.rows[0].startLocal, "2001-03-07T19:58:50");
    EXPECT_EQ(journal.rows[0].startUtc, "2001-03-07T18:58:50Z");
    EXPECT_EQ(journal.rows[0].account, "Maison");
    EXPECT_EQ(journal.rows[0].end, JournalEnd::Open);

    std::uint64_t sentTotal = 0, receivedTotal = 0;
    for (int i = 1; i <= 150; ++i) {
        // The first tick measures nothing and reads no counter: the link is still quiet.
        if (i > 1) {
            received += 0x90000000u;  // more than 2^31 a second: wraps at almost every tick
            sent += 1000;
            receivedTotal += 0x90000000u;
            sentTotal += 1000;
        }
        counters.value = LinkCounters{received, sent};
        tick();
        if (i == 60) {
            keeper.minute("10.0.0.2");
            const JournalRow& r = journal.rows[0];
            EXPECT_EQ(r.durationMs, meter.connectionDuration.totalMs);
            EXPECT_EQ(r.cost, meter.connectionCost);
            EXPECT_EQ(r.address, "10.0.0.2");
            EXPECT_EQ(r.end, JournalEnd::Open);
            EXPECT_TRUE(r.endLocal.empty());
        }
    }
    meter.Disconnect();
    keeper.disconnected(JournalEnd::Normal);

    ASSERT_EQ(journal.rows.size(), 1u);
    const JournalRow& r = journal.rows[0];
    EXPECT_EQ(r.durationMs, 149000);
    EXPECT_EQ(r.durationMs, meter.connectionDuration.totalMs);
    EXPECT_EQ(r.packageMs, 3000);
    EXPECT_EQ(r.creditMs, 60000);
    EXPECT_EQ(r.normalMs, 5000);  // 19:59:55 to 20:00:00
    EXPECT_EQ(r.reducedMs, 81000);
    EXPECT_EQ(r.packageMs + r.creditMs + r.normalMs + r.reducedMs, r.durationMs);
    EXPECT_EQ(r.packageFee, 15.0f);
    EXPECT_EQ(r.cost, meter.connectionCost);
    EXPECT_NEAR(r.cost, 15.0 + 0.74 + 5 * 0.01 + 81 * 0.005, 1e-4);
    EXPECT_EQ(r.bytesReceived, receivedTotal);
    EXPECT_GT(r.bytesReceived, 0xFFFFFFFFull);
    EXPECT_EQ(r.bytesSent, sentTotal);
    EXPECT_EQ(r.endLocal, "2001-03-07T20:01:20");
    EXPECT_EQ(r.endUtc, "2001-03-07T19:01:20Z");
    EXPECT_EQ(r.end, JournalEnd::Normal);
    EXPECT_EQ(r.origin, JournalOrigin::Metered);
    EXPECT_TRUE(reports.empty());

    // The next connection starts its own figures from zero.
    meter.Connect();
    keeper.connected("10.0.0.3");
    for (int i = 0; i < 2; ++i) {
        sent += 1000;
        counters.value = LinkCounters{received, sent};
        tick();
    }
    meter.Disconnect();
    keeper.disconnected(JournalEnd::Normal);
    ASSERT_EQ(journal.rows.size(), 2u);
    EXPECT_EQ(journal.rows[1].durationMs, 1000);
    EXPECT_EQ(journal.rows[1].packageFee, 0.0f);
    EXPECT_EQ(journal.rows[1].bytesSent, 2000u);
    EXPECT_EQ(journal.rows[1].creditMs, 1000);  // each connection pays its credit again
    EXPECT_EQ(journal.rows[1].packageMs + journal.rows[1].reducedMs, 0);
}

TEST_F(JournalKeeperTest, AFailingJournalNeverStopsTheMeteringAndIsReportedOnce) {
    Account& a = account();
    a.pricePerSecond = 0.01f;
    journal.fail = true;
    meter.Connect();
    keeper.connected("");
    for (int i = 0; i < 5; ++i) tick();
    keeper.minute("");
    EXPECT_TRUE(meter.metering());
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.04f);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("journal des connexions"), std::string::npos);
    // Once the journal works again the connection still gets its row.
    journal.fail = false;
    tick();
    keeper.minute("");
    ASSERT_EQ(journal.rows.size(), 1u);
    EXPECT_EQ(journal.rows[0].durationMs, 5000);
    meter.Disconnect();
    keeper.disconnected(JournalEnd::CutShort);
    EXPECT_EQ(journal.rows[0].end, JournalEnd::CutShort);
    EXPECT_EQ(reports.size(), 1u);
}

TEST(JournalTimes, TheUtcStampTakesItsDateFromTheZoneOffset) {
    tallimer::test::FakeClock clock;
    clock.local = {2001, 3, 8, 0, 30, 0, 0, 5};  // 00:30 at UTC+1: still the 7th in UTC
    clock.utc = (23 * 3600 + 30 * 60) * 1000;
    EXPECT_EQ(IsoLocal(clock.localNow()), "2001-03-08T00:30:00");
    EXPECT_EQ(IsoUtcNow(clock), "2001-03-07T23:30:00Z");
    clock.local = {2001, 12, 31, 21, 15, 7, 999, 2};  // UTC-5: already next year in UTC
    clock.utc = (2 * 3600 + 15 * 60 + 8) * 1000;      // a reading a millisecond later
    EXPECT_EQ(IsoUtcNow(clock), "2002-01-01T02:15:07Z");
}

// The invoice lines and archive names the program writes are read back as they were meant.
TEST(InvoiceHistory, LinesAndArchiveNamesAsTheProgramWritesThem) {
    for (const Locale& locale : {Locale::french(), Locale::english()}) {
        // 07 Aug 01, 00:05:09 after 00:12:30: the connection began the day before.
        const DateTime when = EncodeDate(2001, 8, 7) + (5 * 60 + 9) / 86400.0;
        auto row = RowOfInvoiceLine(InvoiceLineText(when, msTIME(750000), 1.2345f, locale), "A");
        ASSERT_TRUE(row.has_value());
        EXPECT_EQ(row->account, "A");
        EXPECT_EQ(row->startLocal, "2001-08-06T23:52:39");
        EXPECT_EQ(row->endLocal, "2001-08-07T00:05:09");
        EXPECT_EQ(row->durationMs, 750000);
        EXPECT_EQ(row->cost, 1.23f);
        EXPECT_EQ(row->origin, JournalOrigin::Imported);
        EXPECT_EQ(row->end, JournalEnd::Normal);

        for (const std::string name : {"Maison", "Mon fai 2", "a/b", ""}) {
            const std::string path = ArchivePath("/d/", name, EncodeDate(1999, 12, 5), locale);
            const std::string file = path.substr(path.rfind('/') + 1);
            EXPECT_EQ(AccountOfArchiveName(file), std::optional<std::string>(name)) << file;
        }
    }
    auto rows = RowsOfInvoice(
        {"Facture de Maison", "\t05 mars 01, 21:07:44\t123:00:01\t10,50", "", "Coût total = 10,50",
         "\tnot a line\t00:00:01\t1,00", "\t31 févr. 01, 10:00:00\t00:00:01\t1,00",
         "\t06 mars 01, 20:00:00\t00:00:00\t15,00"},
        "Maison");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].durationMs, 442801000);
    EXPECT_EQ(rows[0].cost, 10.5f);
    EXPECT_EQ(rows[0].packageFee, 0.0f);
    EXPECT_EQ(rows[1].cost, 0.0f);  // a package fee, also inside its connection's amount
    EXPECT_EQ(rows[1].packageFee, 15.0f);
    EXPECT_EQ(rows[0].startLocal, "2001-02-28T18:07:43");
    EXPECT_FALSE(AccountOfArchiveName("Maison.rtf").has_value());
    EXPECT_FALSE(AccountOfArchiveName("Maison 05 mars 01.txt").has_value());
}

}  // namespace
