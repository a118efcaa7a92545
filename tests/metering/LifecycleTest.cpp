#include <gtest/gtest.h>

#include "support/Errors.h"
#include "tests/metering/MeterFixture.h"

using namespace tallimer;
using tallimer::test::MeterTest;

namespace {

using LifecycleTest = MeterTest;

TEST_F(LifecycleTest, ANewNameCreatesItsAccountAndClosesItsPeriodAtOnce) {
    names.name = "Maison";
    meter.Connect();
    ASSERT_NE(accounts.find("Maison"), nullptr);
    EXPECT_EQ(meter.currentAccount, accounts.find("Maison"));
    EXPECT_EQ(host.names, std::vector<std::string>{"Maison"});
    EXPECT_EQ(host.closings, std::vector<std::string>{"Maison"});
    EXPECT_TRUE(host.tickEnabled);
    EXPECT_TRUE(meter.metering());
    EXPECT_EQ(meter.creditRemaining.totalMs, 0);
}

TEST_F(LifecycleTest, APeriodIsClosedOnlyTheDayAfterTheBillingDate) {
    Account& a = account("Maison");
    names.name = "Maison";
    a.nextInvoice = EncodeDate(2001, 3, 7);  // today
    meter.Connect();
    meter.Disconnect();
    EXPECT_TRUE(host.closings.empty());
    clock.local.day = 8;
    meter.Connect();
    EXPECT_EQ(host.closings.size(), 1u);
}

TEST_F(LifecycleTest, ConnectionsStartFromZeroAndTheFirstTickMeasuresNothing) {
    Account& a = account();
    a.pricePerSecond = 0.01f;
    a.creditDuration = 5000;
    meter.Connect();
    tick();
    tick();
    meter.Disconnect();
    EXPECT_EQ(meter.connectionDuration.totalMs, 1000);  // kept on screen after the end
    EXPECT_EQ(meter.rateIcon, 0);
    EXPECT_FALSE(host.tickEnabled);
    clock.advance(3600000);  // an hour off line
    meter.Connect();
    EXPECT_EQ(meter.connectionDuration.totalMs, 0);
    EXPECT_EQ(meter.connectionCost, 0.0f);
    EXPECT_FALSE(meter.creditCharged);
    EXPECT_EQ(meter.creditRemaining.totalMs, 5000);
    tick();
    EXPECT_EQ(meter.connectionDuration.totalMs, 0);
    EXPECT_EQ(a.periodDuration.totalMs, 1000);
}

TEST_F(LifecycleTest, EveryEndWritesOneLineAndASecondEndNone) {
    Account& a = account();
    a.creditPrice = 0.74f;
    a.creditDuration = 60000;
    meter.Disconnect();  // never connected
    EXPECT_TRUE(host.lines.empty());
    meter.Connect();
    meter.Disconnect();  // ended before its first tick
    ASSERT_EQ(host.lines.size(), 1u);
    EXPECT_EQ(host.lines[0].durationMs, 0);
    EXPECT_EQ(host.lines[0].amount, 0.0f);
    meter.Connect();
    tick();
    tick();
    meter.Disconnect();
    meter.Disconnect();  // by hand, then by the detector
    ASSERT_EQ(host.lines.size(), 2u);
    EXPECT_EQ(host.lines[1].durationMs, 1000);
    EXPECT_EQ(host.lines[1].amount, 0.74f);
    EXPECT_EQ(host.lines[1].when, EncodeDateTime(clock.local));
}

TEST_F(LifecycleTest, ASecondStartKeepsTheConnectionGoing) {
    Account& a = account();
    a.creditDuration = 0;
    a.pricePerSecond = 0.01f;
    meter.Connect();  // bnGo pressed by hand while off line
    tick();
    tick();
    tick();
    meter.Connect();  // then the detector sees the machine on line
    EXPECT_EQ(meter.connectionDuration.totalMs, 2000);
    tick();
    EXPECT_EQ(meter.connectionDuration.totalMs, 3000);
    EXPECT_FLOAT_EQ(meter.connectionCost, 0.03f);
    EXPECT_EQ(host.names.size(), 1u);
}

TEST_F(LifecycleTest, AFailedPeriodClosingIsReportedButTheConnectionIsMetered) {
    names.name = "Maison";
    host.failClosing = true;
    try {
        meter.Connect();
        ADD_FAILURE() << "the closing error was swallowed";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Impossible de créer le fichier Factures/x.rtf");
    }
    EXPECT_TRUE(meter.metering());
    EXPECT_TRUE(host.tickEnabled);
    tick();
    tick();
    EXPECT_EQ(meter.connectionDuration.totalMs, 1000);
    meter.Disconnect();
    EXPECT_EQ(host.lines.size(), 1u);
}

TEST_F(LifecycleTest, RatesOfTheWorkedExamples) {
    account();
    counters.value = LinkCounters{1000000, 500000};
    meter.Connect();  // the baselines are taken here
    tick();           // 0 ms: nothing shown
    EXPECT_FALSE(host.received);
    counters.value = LinkCounters{1004096, 502048};
    tick(1000);
    EXPECT_EQ(host.received, "32,0");
    EXPECT_EQ(host.sent, "16,0");
    counters.value = LinkCounters{1006144, 502048};
    tick(2000);
    EXPECT_EQ(host.received, "8,0");
    EXPECT_EQ(host.sent, "0,0");
    counters.value = LinkCounters{1006144 - 1024, 502048};
    tick(1000);
    EXPECT_EQ(host.received, "-8,0");
}

TEST_F(LifecycleTest, ACounterThatWrappedGivesTheSmallDelta) {
    account();
    counters.value = LinkCounters{4294967000u, 0};
    meter.Connect();
    tick();
    counters.value = LinkCounters{200, 0};
    tick(1000);
    EXPECT_EQ(host.received, "3,9");  // 496 bytes x 8 / 1024
    EXPECT_EQ(meter.lastBytesRecvd, 200);
}

TEST_F(LifecycleTest, TheFirstReadingOfAConnectionOnlySetsTheBaselines) {
    account();
    counters.value.reset();  // no statistics when the connection starts
    meter.Connect();
    EXPECT_EQ(counters.readsAtStart, 0);  // the link is looked for before the baselines
    tick();
    counters.value = LinkCounters{7000000, 9000000};
    tick();
    EXPECT_FALSE(host.received);  // no spike against a zero baseline
    EXPECT_EQ(meter.lastBytesRecvd, 7000000);
    counters.value = LinkCounters{7001024, 9000000};
    tick();
    EXPECT_EQ(host.received, "8,0");
    meter.Disconnect();
    counters.value = LinkCounters{9000000, 9000000};  // traffic between connections
    const int readsBefore = counters.reads;
    meter.Connect();
    EXPECT_EQ(counters.readsAtStart, readsBefore);
    tick();
    counters.value = LinkCounters{9002048, 9000000};
    tick();
    EXPECT_EQ(host.received, "16,0");
}

TEST_F(LifecycleTest, AMissingCounterLeavesItsFieldAndBaseline) {
    account();
    counters.value = LinkCounters{1000, 1000};
    meter.Connect();
    tick();
    counters.value = LinkCounters{2024, std::nullopt};
    tick();
    EXPECT_EQ(host.received, "8,0");
    EXPECT_FALSE(host.sent);
    EXPECT_EQ(meter.lastBytesXmit, 1000);
    counters.value.reset();  // statistics gone
    tick();
    EXPECT_EQ(host.received, "8,0");
}

TEST_F(LifecycleTest, NoCountersAreReadOutsideAConnection) {
    account();
    counters.value = LinkCounters{1, 1};
    meter.UpdateThroughput(1000);
    EXPECT_EQ(counters.reads, 0);
    meter.Connect();
    meter.Disconnect();
    int reads = counters.reads;
    meter.UpdateThroughput(1000);
    EXPECT_EQ(counters.reads, reads);
}

}  // namespace
