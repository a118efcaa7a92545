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
    EXPECT_FLOAT_EQ(p.value("CoutConnexionEur").toFloat(), 1.23f);
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
    QSignalSpy spy(&bus, &SessionBus::Changed);
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

}  // namespace
