// The detector's rules on a scripted address list; the timer only where its phase matters.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <climits>
#include <stdexcept>

#include "controls/ErrorReport.h"
#include "controls/Onlineip.h"

namespace tallimer {
namespace {

using Addresses = std::vector<std::string>;

class OnlineIPTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = SetErrorReportHandler([this](QObject* sender, const std::exception& e) {
            reports.push_back({sender, e.what()});
        });
        detector.SetEnabled(false);  // polls are run by hand unless a test says otherwise
        detector.SetOnChanged([this](QObject* sender) {
            EXPECT_EQ(sender, &detector);
            seen.push_back({detector.Online(), detector.IP().toStdString()});
            if (handlerThrows) throw std::runtime_error("Impossible de créer le fichier x");
        });
    }
    void TearDown() override { SetErrorReportHandler(previous_); }

    QTimer* timer() { return detector.findChild<QTimer*>(); }
    void pollWith(Addresses list) {
        addresses = std::move(list);
        detector.Poll();
        // Reports are queued: they arrive once the poll has returned.
        QCoreApplication::sendPostedEvents();
    }

    struct Report {
        QObject* sender;
        std::string message;
    };
    struct Seen {
        bool online;
        std::string ip;
    };
    Addresses addresses;
    bool lookupThrows = false;
    bool handlerThrows = false;
    int lookups = 0;
    std::vector<Report> reports;
    std::vector<Seen> seen;
    TOnlineIP detector{nullptr, [this] {
                           ++lookups;
                           if (lookupThrows) throw std::runtime_error("résolution impossible");
                           return addresses;
                       }};

  private:
    ErrorReportHandler previous_;
};

TEST_F(OnlineIPTest, StartsOffLineWithTheBuiltInPeriod) {
    TOnlineIP fresh;
    EXPECT_TRUE(fresh.Enabled());
    EXPECT_EQ(fresh.DispatchInterval(), 1000u);
    EXPECT_FALSE(fresh.Online());
    EXPECT_TRUE(fresh.IP().isEmpty());
    QTimer* t = fresh.findChild<QTimer*>();
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->isActive());
    EXPECT_EQ(t->interval(), 1000);
}

TEST_F(OnlineIPTest, LoopbackOnlyIsOffLineWithoutEvent) {
    QSignalSpy spy(&detector, &TOnlineIP::OnChanged);
    pollWith({"127.0.0.1"});
    EXPECT_EQ(detector.IP().toStdString(), "127.0.0.1");
    EXPECT_FALSE(detector.Online());
    EXPECT_EQ(spy.count(), 0);
    EXPECT_TRUE(seen.empty());
}

TEST_F(OnlineIPTest, TheLastAddressDecides) {
    QSignalSpy spy(&detector, &TOnlineIP::OnChanged);
    pollWith({"127.0.0.1", "192.168.1.10", "10.64.0.7"});
    EXPECT_EQ(detector.IP().toStdString(), "10.64.0.7");
    EXPECT_TRUE(detector.Online());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<QObject*>(), &detector);
    // The handler runs after the signal and sees the new values.
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].online);
    EXPECT_EQ(seen[0].ip, "10.64.0.7");

    pollWith({"127.0.0.1", "10.64.0.7", "192.168.1.10"});
    EXPECT_EQ(detector.IP().toStdString(), "192.168.1.10");

    // Loopback last means off line, whatever comes before it.
    pollWith({"192.168.1.10", "127.0.0.1"});
    EXPECT_FALSE(detector.Online());
    EXPECT_EQ(spy.count(), 2);
}

TEST_F(OnlineIPTest, OnlyTheExactLoopbackTextIsOffLine) {
    pollWith({"127.0.1.1"});
    EXPECT_TRUE(detector.Online());
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(OnlineIPTest, LostResolutionWhileOnLineFiresOnce) {
    pollWith({"127.0.0.1", "10.64.0.7"});
    ASSERT_TRUE(detector.Online());
    pollWith({});
    pollWith({});
    EXPECT_TRUE(detector.IP().isEmpty());
    EXPECT_FALSE(detector.Online());
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_FALSE(seen[1].online);
    EXPECT_EQ(seen[1].ip, "");
}

// Another address while on line is never a change of Online: only the address shown moves,
// whether it replaced the old one or was gained beside it.
TEST_F(OnlineIPTest, AnAddressChangeWhileOnLineOnlyMovesTheAddress) {
    QSignalSpy changes(&detector, &TOnlineIP::OnIPChanged);
    pollWith({"10.64.0.7"});
    pollWith({"10.64.0.99"});
    EXPECT_EQ(detector.IP().toStdString(), "10.64.0.99");
    EXPECT_TRUE(detector.Online());
    EXPECT_EQ(seen.size(), 1u);
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes[0][0].value<QObject*>(), &detector);

    pollWith({"127.0.0.1", "10.64.0.99", "192.0.2.4"});
    pollWith({"127.0.0.1", "192.0.2.4"});
    EXPECT_EQ(detector.IP().toStdString(), "192.0.2.4");
    EXPECT_EQ(changes.size(), 2);

    pollWith({"127.0.0.1"});
    pollWith({"127.0.0.1", "10.64.0.7"});
    EXPECT_EQ(changes.size(), 2);
    EXPECT_EQ(seen.size(), 3u);

    // What the slot throws is reported, and polling goes on.
    QObject::connect(&detector, &TOnlineIP::OnIPChanged,
                     [] { throw std::runtime_error("bascule"); });
    pollWith({"10.64.0.8"});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].message, "bascule");
    EXPECT_EQ(changes.size(), 3);
}

TEST_F(OnlineIPTest, WrittenResultsAreIgnored) {
    pollWith({"10.64.0.7"});
    EXPECT_TRUE(detector.setProperty("Online", false));
    EXPECT_TRUE(detector.setProperty("IP", QStringLiteral("127.0.0.1")));
    detector.SetNoneBool(false);
    detector.SetNoneStr(QStringLiteral(""));
    EXPECT_TRUE(detector.Online());
    EXPECT_EQ(detector.IP().toStdString(), "10.64.0.7");
    // Nothing was changed behind the poll's back, so the same list fires nothing again.
    pollWith({"10.64.0.7"});
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(OnlineIPTest, HandlerErrorIsReportedAndPollingGoesOn) {
    handlerThrows = true;
    pollWith({"10.64.0.7"});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].sender, &detector);
    EXPECT_EQ(reports[0].message, "Impossible de créer le fichier x");
    // What the poll stored stays.
    EXPECT_TRUE(detector.Online());

    handlerThrows = false;
    pollWith({});
    EXPECT_FALSE(detector.Online());
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(OnlineIPTest, SlotErrorDoesNotSilenceTheHandler) {
    QObject::connect(&detector, &TOnlineIP::OnChanged,
                     [](QObject*) { throw std::runtime_error("slot"); });
    pollWith({"10.64.0.7"});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].message, "slot");
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(OnlineIPTest, LookupErrorKeepsTheLastValues) {
    pollWith({"10.64.0.7"});
    lookupThrows = true;
    pollWith({});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].message, "résolution impossible");
    EXPECT_TRUE(detector.Online());
    EXPECT_EQ(detector.IP().toStdString(), "10.64.0.7");
    lookupThrows = false;
    pollWith({});
    EXPECT_FALSE(detector.Online());
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(OnlineIPTest, AFailingPollWaitsForNobodyAndRepeatsNoReport) {
    lookupThrows = true;
    for (int i = 0; i < 3; ++i) detector.Poll();
    EXPECT_EQ(lookups, 3);
    EXPECT_TRUE(reports.empty());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(reports.size(), 1u);
    detector.Poll();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(OnlineIPTest, TheTimerPolls) {
    addresses = {"127.0.0.1", "10.64.0.7"};
    detector.SetDispatchInterval(5);
    detector.SetEnabled(true);
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    while (lookups < 3 && clock.elapsed() < 10000) {
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    EXPECT_GE(lookups, 3);
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(OnlineIPTest, IntervalZeroOrDisabledStopsPolling) {
    detector.SetEnabled(true);
    detector.SetDispatchInterval(0);
    EXPECT_FALSE(timer()->isActive());
    detector.SetDispatchInterval(2000);
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(timer()->interval(), 2000);
    detector.SetEnabled(false);
    EXPECT_FALSE(timer()->isActive());
    detector.SetEnabled(true);
    EXPECT_TRUE(timer()->isActive());
}

// While metering, the one-second tick carries the polls: no timer of the detector's own
// wakes the process, and a poll still comes every 2 s, then on its own timer again.
TEST_F(OnlineIPTest, PollsRideTheTickEveryPeriodThenTakeTheirTimerBack) {
    addresses = {"10.64.0.7"};
    detector.SetEnabled(true);
    detector.SetDispatchInterval(2000);
    detector.RideTick(1000);
    EXPECT_FALSE(timer()->isActive());
    std::vector<int> polledAt;
    for (int tick = 1; tick <= 6; ++tick) {
        const int before = lookups;
        detector.Tick();
        if (lookups > before) polledAt.push_back(tick);
    }
    EXPECT_EQ(polledAt, (std::vector<int>{2, 4, 6}));
    EXPECT_EQ(seen.size(), 1u);
    detector.Tick();  // half way to the next poll
    detector.RideTick(0);
    ASSERT_TRUE(timer()->isActive());
    EXPECT_LE(timer()->remainingTime(), 1000);
    detector.SetEnabled(false);
    detector.RideTick(1000);
    detector.Tick();
    detector.Tick();
    EXPECT_EQ(lookups, 3);
}

TEST_F(OnlineIPTest, AHugeIntervalStillStartsTheTimer) {
    detector.SetEnabled(true);
    detector.SetDispatchInterval(UINT_MAX);
    EXPECT_EQ(detector.DispatchInterval(), UINT_MAX);
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(timer()->interval(), INT_MAX);
}

TEST_F(OnlineIPTest, SettingTheSameValueKeepsThePhase) {
    const int period = 60000;
    detector.SetDispatchInterval(period);
    detector.SetEnabled(true);
    const int id = timer()->timerId();
    // Let the timer run down a little, measured by the timer itself.
    QElapsedTimer clock;
    clock.start();
    while (timer()->remainingTime() > period - 200 && clock.elapsed() < 10000) QThread::msleep(10);
    const int remaining = timer()->remainingTime();
    ASSERT_LE(remaining, period - 200);

    detector.SetEnabled(true);
    detector.SetDispatchInterval(period);
    EXPECT_EQ(timer()->timerId(), id);
    EXPECT_LE(timer()->remainingTime(), remaining);

    // A restart does start a full period again.
    detector.UpdateTimer();
    EXPECT_GT(timer()->remainingTime(), period - 200);
}

TEST(ErrorReport, HandlerIsReplaceableAndTheStandardReportWritesOffscreen) {
    std::string got;
    auto previous =
        SetErrorReportHandler([&](QObject*, const std::exception& e) { got = e.what(); });
    ReportException(nullptr, std::runtime_error("première"));
    EXPECT_EQ(got, "première");

    // An empty handler brings the standard report back; offscreen it cannot show a box.
    SetErrorReportHandler({});
    ::testing::internal::CaptureStderr();
    ReportException(nullptr, std::runtime_error("Impossible d'ouvrir le fichier é"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Impossible d'ouvrir le fichier é\n");
    EXPECT_EQ(got, "première");
    SetErrorReportHandler(previous);
}

}  // namespace
}  // namespace tallimer
