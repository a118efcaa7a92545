// The session on a private session bus: what a desktop widget reads, the statistics window
// opened from the bus, Changed gathered to once a second, and a name already taken.
#include "shell/SessionBus.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "tests/common/Fakes.h"
#include "tests/common/qt/PrivateBus.h"

using namespace tallimer;

namespace {

class SessionBusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(dir_.isValid());
        address_ = test::StartPrivateBus(daemon_, dir_.path(), "unix:dir=" + dir_.path());
        ASSERT_FALSE(address_.isEmpty());
        state_.online = true;
        state_.account = "Wanadoo";
        state_.connectionMs = 754000;
        state_.connectionCost = 1.23f;
        state_.rateIcon = 2;
        state_.periodEnd = EncodeDate(2026, 12, 15);
        state_.overallMs = 5'000'000'000;
    }
    void TearDown() override {
        for (const char* name : {"program", "widget", "second"})
            QDBusConnection::disconnectFromBus(name);
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            daemon_.waitForFinished(5000);
        }
    }
    QDBusConnection connect(const char* name) {
        return QDBusConnection::connectToBus(address_, name);
    }
    // Offers the service and waits for the bus's answer.
    void offer(SessionBus& bus, const char* name) {
        bus.offer(connect(name));
        if (!QTest::qWaitFor([&] { return bus.offered(); }, 5000)) return;
    }

    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    SessionState state_;
    test::FakeClock clock_;
    int shown_ = 0;
};

TEST_F(SessionBusTest, AWidgetReadsTheStateAndOpensTheStatistics) {
    SessionBus bus([this] { return state_; }, [this] { ++shown_; }, clock_);
    offer(bus, "program");
    ASSERT_TRUE(bus.offered());
    // Asked as a widget would, from another connection, the program's loop running.
    QDBusConnection widget = connect("widget");
    auto ask = [&](const char* interface, const char* method, QVariantList args) {
        QDBusMessage call = QDBusMessage::createMethodCall(kBusName, kBusPath, interface, method);
        call.setArguments(args);
        QDBusPendingCall pending = widget.asyncCall(call);
        EXPECT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, 5000));
        EXPECT_FALSE(pending.isError()) << pending.error().message().toStdString();
        return pending.reply();
    };
    const QVariantMap p =
        QDBusPendingReply<QVariantMap>(ask("org.freedesktop.DBus.Properties", "GetAll",
                                           {QStringLiteral("org.example.tallimer.Session")}))
            .value();
    EXPECT_EQ(p.value("EnLigne").toBool(), true);
    EXPECT_EQ(p.value("Compte").toString(), "Wanadoo");
    EXPECT_EQ(p.value("DureeConnexionMs").toLongLong(), 754000);
    // The amount as printed, not the float's binary value 1.2300000190734863.
    EXPECT_EQ(p.value("CoutConnexionEur").toDouble(), 1.23);
    EXPECT_EQ(p.value("Tarif").toInt(), 2);
    EXPECT_EQ(p.value("FinPeriode").toString(), "2026-12-15");
    EXPECT_EQ(p.value("DureeTotaleMs").toLongLong(), 5'000'000'000);
    EXPECT_EQ(p.value("Ligne").toString(), "00:12:34 · 1,23 €");
    ask("org.example.tallimer.Session", "Afficher", {});
    EXPECT_EQ(shown_, 1);

    // Another copy, on the same bus, finds the name taken: it offers nothing and goes on.
    SessionBus second([this] { return state_; }, {}, clock_);
    offer(second, "second");
    EXPECT_FALSE(second.offered());
    EXPECT_EQ(QDBusPendingReply<QVariant>(
                  ask("org.freedesktop.DBus.Properties", "Get",
                      {QStringLiteral("org.example.tallimer.Session"), QStringLiteral("Compte")}))
                  .value()
                  .toString(),
              "Wanadoo");
}

// Ticks nobody follows send nothing; a connection's end does. A follower gets every tick, at
// most once a second, and what came in between is not lost.
TEST_F(SessionBusTest, ChangedGoesOutAtMostOnceASecondAndTheLastStepIsNotLost) {
    SessionBus bus([this] { return state_; }, {}, clock_);
    offer(bus, "program");
    ASSERT_TRUE(bus.offered());
    QSignalSpy spy(bus.publications(), &Publications::sent);
    bus.changed();
    ASSERT_EQ(spy.count(), 1);
    clock_.advance(1000);
    state_.connectionMs += 1000;
    bus.changed();
    EXPECT_EQ(spy.count(), 1);

    QDBusConnection widget = connect("widget");
    QDBusPendingCall follow = widget.asyncCall(QDBusMessage::createMethodCall(
        kBusName, kBusPath, "org.example.tallimer.Session", "Suivre"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return follow.isFinished(); }, 5000));
    ASSERT_FALSE(follow.isError());
    clock_.advance(1000);
    bus.changed();
    EXPECT_EQ(spy.count(), 2);
    clock_.advance(300);
    state_.online = false;
    bus.changed();
    clock_.advance(300);
    bus.changed();
    EXPECT_EQ(spy.count(), 2);
    clock_.advance(300);
    ASSERT_TRUE(spy.wait(3000));
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(2).at(0).toMap().value("EnLigne").toBool(), false);
}

// Runs tests/shell/bus-clients.py against the private bus.
void StartClients(QProcess& p, const QString& address, const QStringList& args) {
    p.start("/usr/bin/python3",
            QStringList{QString::fromStdString(test::Env("TALLIMER_SOURCE_DIR")) +
                            "/tests/shell/bus-clients.py",
                        address} +
                args);
}

// A widget's proxy keeps its copy of the properties from PropertiesChanged. A switch is one
// step: the finished connection's last figures, then the new one's, never off line between;
// off line, the period's last day is empty.
TEST_F(SessionBusTest, AProxyFollowsThePropertiesAndASwitchIsNeverOffLine) {
    SessionBus bus([this] { return state_; }, {}, clock_);
    offer(bus, "program");
    ASSERT_TRUE(bus.offered());
    QSignalSpy spy(bus.publications(), &Publications::sent);
    QProcess proxy;
    StartClients(proxy, address_, {"proxy"});
    QByteArray heard;
    auto hear = [&](const QByteArray& line) {
        return QTest::qWaitFor(
            [&] {
                heard += proxy.readAllStandardOutput();
                return heard.contains(line);
            },
            10000);
    };
    ASSERT_TRUE(hear("True Wanadoo 754000\n")) << heard.toStdString();

    bus.changed();
    const SessionState last = [&] {
        SessionState s = state_;
        s.connectionMs = 760000;
        return s;
    }();
    state_.account = "Club Internet";
    state_.connectionMs = 0;
    state_.connection = 2;
    clock_.advance(1000);
    bus.changed(last);
    ASSERT_TRUE(hear("True Wanadoo 760000\n")) << heard.toStdString();
    ASSERT_TRUE(hear("Changed True Wanadoo 760000\n")) << heard.toStdString();
    clock_.advance(900);
    ASSERT_TRUE(spy.wait(5000));
    ASSERT_TRUE(hear("True Club Internet 0\n")) << heard.toStdString();
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(1).at(0).toMap().value("Compte").toString(), "Wanadoo");
    EXPECT_EQ(spy.at(1).at(0).toMap().value("DureeConnexionMs").toLongLong(), 760000);
    for (const auto& signal : spy) EXPECT_TRUE(signal.at(0).toMap().value("EnLigne").toBool());

    state_.online = false;
    clock_.advance(1000);
    bus.changed();
    ASSERT_TRUE(hear("False Club Internet 0\n")) << heard.toStdString();
    EXPECT_EQ(bus.properties().value("FinPeriode").toString(), "");
    proxy.kill();
    proxy.waitForFinished();
}

// Followers that vanish right after their call, before their watch could be set, are let go:
// the ticks then go out to nobody.
TEST_F(SessionBusTest, FollowersThatVanishStopTheTicks) {
    SessionBus bus([this] { return state_; }, {}, clock_);
    offer(bus, "program");
    ASSERT_TRUE(bus.offered());
    QProcess followers;
    StartClients(followers, address_, {"follow", "200"});
    // The loop held meanwhile: every caller is gone before the program hears the first call.
    ASSERT_TRUE(followers.waitForFinished(30000));
    ASSERT_EQ(followers.readAllStandardOutput(), "called\n");
    // Asked after them, answered after the bus gave every call to the program.
    QDBusPendingCall after = connect("widget").asyncCall(
        QDBusMessage::createMethodCall(kBusName, kBusPath, "org.freedesktop.DBus.Peer", "Ping"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return after.isFinished(); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bus.followers() == 0; }, 10000)) << bus.followers();

    QSignalSpy spy(bus.publications(), &Publications::sent);
    bus.changed();  // the first step
    clock_.advance(1000);
    state_.connectionMs += 1000;
    bus.changed();
    QCoreApplication::processEvents();
    EXPECT_EQ(spy.count(), 1);
}

}  // namespace
