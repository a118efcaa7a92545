// The connection name source against a private bus with a stand-in NetworkManager.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMutex>
#include <QProcess>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

#include "platform/NetworkManagerName.h"
#include "tests/common/qt/PrivateBus.h"

namespace tallimer {
namespace {

class ManagerStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager")
    Q_PROPERTY(QDBusObjectPath PrimaryConnection READ PrimaryConnection)
  public:
    explicit ManagerStandIn(QString path) : primary_(std::move(path)) {}
    QDBusObjectPath PrimaryConnection() const {
        QMutexLocker lock(&mutex_);  // read on the serving thread, changed by the test's
        return primary_;
    }
    void setPrimary(const QString& path) {
        QMutexLocker lock(&mutex_);
        primary_ = QDBusObjectPath(path);
    }

  private:
    mutable QMutex mutex_;
    QDBusObjectPath primary_;
};

class ActiveStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.Connection.Active")
    Q_PROPERTY(QString Id READ Id)
    Q_PROPERTY(QString Uuid READ Uuid)
    Q_PROPERTY(QList<QDBusObjectPath> Devices READ Devices)
  public:
    // The connection's UUID is its Id unless told.
    explicit ActiveStandIn(QString id, QString uuid = {}, QSemaphore* gate = nullptr)
        : id_(std::move(id)), uuid_(uuid.isEmpty() ? id_ : std::move(uuid)), gate_(gate) {}
    QString Id() const {
        if (gate_) gate_->acquire();  // a bus peer that hangs until the test lets it go
        return id_;
    }
    QString Uuid() const { return uuid_; }
    QList<QDBusObjectPath> Devices() const { return devices_; }
    QList<QDBusObjectPath> devices_;

  private:
    QString id_;
    QString uuid_;
    QSemaphore* gate_;
};

class DeviceStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.Device")
    Q_PROPERTY(uint Metered READ Metered)
  public:
    explicit DeviceStandIn(uint metered) : metered_(metered) {}
    uint Metered() const { return metered_; }

  private:
    uint metered_;
};

const QString kPrimaryPath = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/3");

// A private bus daemon with no activatable services, and the stand-in objects served from a
// thread of their own, so blocking calls from this thread are answered.
class NetworkManagerNameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(dir_.isValid());
        startBus(QStringLiteral("unix:dir=") + dir_.path());
    }

    // Starts the bus daemon listening at the given address and connects the stand-in's side.
    QString address() const { return address_; }
    void startBus(const QString& listen) {
        address_ = test::StartPrivateBus(daemon_, dir_.path(), listen);
        ASSERT_FALSE(address_.isEmpty()) << daemon_.readAllStandardError().toStdString();

        server_ = QDBusConnection::connectToBus(address_, QStringLiteral("nm-stand-in"));
        ASSERT_TRUE(server_.isConnected());
        serverThread_.start();
    }

    void TearDown() override {
        if (gate_.available() == 0) gate_.release(100);
        serverThread_.quit();
        serverThread_.wait();
        QDBusConnection::disconnectFromBus(QStringLiteral("nm-stand-in"));
        QDBusConnection::disconnectFromBus(QStringLiteral("nm-client"));
        objects_.clear();
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            if (!daemon_.waitForFinished(5000)) daemon_.kill();
            daemon_.waitForFinished(5000);
        }
    }

    void serve(const QString& path, QObject* object) {
        objects_.emplace_back(object);
        object->moveToThread(&serverThread_);
        ASSERT_TRUE(server_.registerObject(path, object, QDBusConnection::ExportAllProperties));
    }
    // Its objects first, then its name, as NetworkManager does.
    void serveManager(const QString& primary) {
        manager_ = new ManagerStandIn(primary);
        serve(QStringLiteral("/org/freedesktop/NetworkManager"), manager_);
        ASSERT_TRUE(server_.registerService(QStringLiteral("org.freedesktop.NetworkManager")));
    }
    // NetworkManager stops: its name and objects leave the bus; a new one serves what follows.
    void restartManager() {
        server_ = QDBusConnection(QString());  // the last reference: the connection closes
        QDBusConnection::disconnectFromBus(QStringLiteral("nm-stand-in"));
        server_ = QDBusConnection::connectToBus(address_, QStringLiteral("nm-stand-in"));
        ASSERT_TRUE(server_.isConnected());
        // The old connection's end reaches the bus in its own time: its name goes with it.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return !server_.interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.NetworkManager"));
            },
            10000));
    }
    // NetworkManager's switch: the property changes, then the signal tells.
    void switchPrimary(const QString& path, const QString& interface = kManagerInterface) {
        manager_->setPrimary(path);
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/NetworkManager"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
        signal
            << interface << QVariantMap{{QStringLiteral("PrimaryConnection"), QVariant::fromValue(QDBusObjectPath(path))}}
            << QStringList();
        ASSERT_TRUE(server_.send(signal));
    }
    // The bus daemon dies and a new one starts at the same address, without the stand-in.
    void restartBus(const QString& listen) {
        QDBusConnection::disconnectFromBus(QStringLiteral("nm-stand-in"));
        daemon_.kill();
        daemon_.waitForFinished(5000);
        startBus(listen);
    }
    // Every signal sent so far has reached the client's connection, and its slots have run.
    void settle() {
        QDBusMessage get = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.NetworkManager"),
            QStringLiteral("/org/freedesktop/NetworkManager"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << kManagerInterface << QStringLiteral("PrimaryConnection");
        QDBusConnection(QStringLiteral("nm-client")).call(get, QDBus::Block, 2000);
        QCoreApplication::processEvents();
    }
    std::string name(int timeoutMs = 2000) {
        NetworkManagerName source(
            QDBusConnection::connectToBus(address_, QStringLiteral("nm-client")), timeoutMs);
        return source.defaultConnectionName();
    }

    QSemaphore gate_;
    QTemporaryDir dir_;
    static inline const QString kManagerInterface =
        QStringLiteral("org.freedesktop.NetworkManager");

  private:
    ManagerStandIn* manager_ = nullptr;
    QProcess daemon_;
    QString address_;
    QDBusConnection server_{QString()};
    QThread serverThread_;
    std::vector<std::unique_ptr<QObject>> objects_;
};

TEST_F(NetworkManagerNameTest, ReadsThePrimaryConnectionsId) {
    serveManager(kPrimaryPath);
    serve(kPrimaryPath, new ActiveStandIn(QStringLiteral("Numéris à domicile")));
    EXPECT_EQ(name(), "Numéris à domicile");
}

// NetworkManager's NMMetered: unknown, yes, no, guess yes, guess no. A connection with no
// device tells nothing.
TEST_F(NetworkManagerNameTest, TheLinkIsMeteredWhenItsDeviceSaysYesOrGuessesSo) {
    const QString none = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/9");
    serveManager(kPrimaryPath);
    auto* active = new ActiveStandIn(QStringLiteral("Mobile"));
    for (uint value = 0; value < 5; ++value) {
        const QString device =
            QStringLiteral("/org/freedesktop/NetworkManager/Devices/%1").arg(value);
        active->devices_.append(QDBusObjectPath(device));
        serve(device, new DeviceStandIn(value));
    }
    serve(kPrimaryPath, active);
    serve(none, new ActiveStandIn(QStringLiteral("Filaire")));
    NetworkManagerName source(QDBusConnection::connectToBus(address(), QStringLiteral("nm-client")),
                              2000);
    std::vector<bool> metered;
    for (uint value = 0; value < 5; ++value) {
        active->devices_.move(static_cast<int>(value), 0);  // the first device is the one read
        metered.push_back(source.linkMetered());
        active->devices_.move(0, static_cast<int>(value));
    }
    EXPECT_EQ(metered, (std::vector<bool>{false, true, false, true, false}));
    switchPrimary(none);
    EXPECT_FALSE(source.linkMetered());
    switchPrimary(QStringLiteral("/"));
    EXPECT_FALSE(source.linkMetered());
}

// The primary connection's change, as NetworkManager signals it, is a switch once per new
// connection; none ("/") and what does not name the property are no switch; the same
// connection taken down and up again is a redial, a switch too.
TEST_F(NetworkManagerNameTest, APrimaryConnectionChangeIsReportedOncePerNewConnection) {
    const QString club = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/4");
    const QString again = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/5");
    serveManager(kPrimaryPath);
    serve(kPrimaryPath, new ActiveStandIn(QStringLiteral("Wanadoo Modem")));
    serve(club, new ActiveStandIn(QStringLiteral("Club Internet")));
    serve(again, new ActiveStandIn(QStringLiteral("Club Internet")));  // its UUID too
    NetworkManagerName source(QDBusConnection::connectToBus(address(), QStringLiteral("nm-client")),
                              2000);
    std::vector<std::string> heard;
    source.setOnSwitch([&] { heard.push_back(source.defaultConnectionName()); });
    EXPECT_EQ(source.defaultConnectionName(), "Wanadoo Modem");

    switchPrimary(kPrimaryPath);  // the one already read
    switchPrimary(club, QStringLiteral("org.freedesktop.NetworkManager.Device"));
    switchPrimary(club);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !heard.empty(); }, 10000));
    EXPECT_EQ(heard, std::vector<std::string>{"Club Internet"});

    // A redial: no primary connection for a moment, then the same connection (its UUID)
    // active again under a new path.
    switchPrimary(QStringLiteral("/"));
    switchPrimary(again);
    ASSERT_TRUE(QTest::qWaitFor([&] { return heard.size() == 2; }, 10000));
    EXPECT_EQ(heard[1], "Club Internet");
    source.setOnSwitch({});
    switchPrimary(club);
    EXPECT_EQ(source.defaultConnectionName(), "Club Internet");
    EXPECT_EQ(heard.size(), 2u);
}

// A restarted NetworkManager takes the running connection over under a new path: the same
// connection (its UUID), so no switch; the next real one is heard from it.
TEST_F(NetworkManagerNameTest, ARestartKeepingTheConnectionIsNoSwitch) {
    const QString assumed = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/1");
    const QString club = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/2");
    serveManager(kPrimaryPath);
    serve(kPrimaryPath, new ActiveStandIn(QStringLiteral("Wanadoo Modem"), QStringLiteral("w-1")));
    NetworkManagerName source(QDBusConnection::connectToBus(address(), QStringLiteral("nm-client")),
                              2000);
    std::vector<std::string> heard;
    source.setOnSwitch([&] { heard.push_back(source.defaultConnectionName()); });
    EXPECT_EQ(source.defaultConnectionName(), "Wanadoo Modem");

    restartManager();
    serve(assumed, new ActiveStandIn(QStringLiteral("Wanadoo Modem"), QStringLiteral("w-1")));
    serveManager(assumed);
    switchPrimary(assumed);
    settle();
    serve(club, new ActiveStandIn(QStringLiteral("Club Internet")));
    switchPrimary(club);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !heard.empty(); }, 10000));
    EXPECT_EQ(heard, std::vector<std::string>{"Club Internet"});
}

TEST_F(NetworkManagerNameTest, EmptyWithoutNetworkManager) {
    EXPECT_EQ(name(), "");
}

TEST_F(NetworkManagerNameTest, EmptyWithoutPrimaryConnection) {
    serveManager(QStringLiteral("/"));
    // Even an object at "/" is not asked.
    serve(QStringLiteral("/"), new ActiveStandIn(QStringLiteral("racine")));
    EXPECT_EQ(name(), "");
}

TEST_F(NetworkManagerNameTest, EmptyWhenThePrimaryConnectionIsGone) {
    serveManager(kPrimaryPath);
    EXPECT_EQ(name(), "");
}

// A NetworkManager that answers late, however late, still names the connection; meanwhile
// the program's thread goes on with its events.
TEST_F(NetworkManagerNameTest, ASlowAnswerNamesTheConnectionWithoutHoldingTheThread) {
    serveManager(kPrimaryPath);
    serve(kPrimaryPath, new ActiveStandIn(QStringLiteral("Club Internet"), {}, &gate_));
    // Asked again every 100 ms while the answer does not come.
    NetworkManagerName source(QDBusConnection::connectToBus(address(), QStringLiteral("nm-client")),
                              100, 100);
    std::optional<std::string> named;
    source.askName([&](std::string name) { named = name; });
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 20; }, 10000));
    EXPECT_FALSE(named);
    gate_.release(100);  // every asking answered from now on
    ASSERT_TRUE(QTest::qWaitFor([&] { return named.has_value(); }, 10000));
    EXPECT_EQ(*named, "Club Internet");
}

// Without NetworkManager, or without a primary connection, the answer is the unnamed one.
TEST_F(NetworkManagerNameTest, AskedWithoutNetworkManagerOrPrimaryTheNameIsEmpty) {
    NetworkManagerName source(
        QDBusConnection::connectToBus(address(), QStringLiteral("nm-client")));
    std::vector<std::string> named;
    source.askName([&](std::string name) { named.push_back(name); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return named.size() == 1; }, 10000));
    serveManager(QStringLiteral("/"));
    source.askName([&](std::string name) { named.push_back(name); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return named.size() == 2; }, 10000));
    EXPECT_EQ(named, (std::vector<std::string>{"", ""}));
}

// The source of the program itself, on the system bus, whose address it reads at each
// connection: these hold in one process after any other test.
class SystemBusNameTest : public NetworkManagerNameTest {
  protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(dir_.isValid());
        saved_ = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        hadAddress_ = qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS",
                QStringLiteral("unix:path=%1/system").arg(dir_.path()).toUtf8());
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("tallimer-system-bus"));
        NetworkManagerNameTest::TearDown();
        if (hadAddress_) {
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved_);
        } else {
            qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        }
    }

  private:
    QByteArray saved_;
    bool hadAddress_ = false;
};

TEST_F(SystemBusNameTest, ABusThatComesUpLaterIsFound) {
    NetworkManagerName source;
    EXPECT_EQ(source.defaultConnectionName(), "");  // no bus yet

    startBus(QStringLiteral("unix:path=%1/system").arg(dir_.path()));
    serveManager(kPrimaryPath);
    serve(kPrimaryPath, new ActiveStandIn(QStringLiteral("Club-Internet")));
    EXPECT_EQ(source.defaultConnectionName(), "Club-Internet");
    EXPECT_EQ(MakeConnectionNameSource()->defaultConnectionName(), "Club-Internet");
}

// A switch made while the system bus and NetworkManager restarted is told as soon as they are
// back, without waiting for a reading; the new bus's signals are heard.
TEST_F(SystemBusNameTest, ASwitchAcrossABusRestartIsToldAtOnce) {
    const QString listen = QStringLiteral("unix:path=%1/system").arg(dir_.path());
    const QString wanadoo = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/1");
    startBus(listen);
    serveManager(kPrimaryPath);
    serve(kPrimaryPath, new ActiveStandIn(QStringLiteral("Wanadoo Modem")));
    NetworkManagerName source;
    std::vector<std::string> heard;
    source.setOnSwitch([&] { heard.push_back(source.defaultConnectionName()); });
    EXPECT_EQ(source.defaultConnectionName(), "Wanadoo Modem");

    restartBus(listen);
    serve(kPrimaryPath, new ActiveStandIn(QStringLiteral("Club Internet")));
    serveManager(kPrimaryPath);
    // The metering tick looks at the bus.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            source.tick();
            return !heard.empty();
        },
        10000));
    EXPECT_EQ(heard, std::vector<std::string>{"Club Internet"});
    serve(wanadoo, new ActiveStandIn(QStringLiteral("Wanadoo Modem")));
    switchPrimary(wanadoo);
    ASSERT_TRUE(QTest::qWaitFor([&] { return heard.size() == 2; }, 10000));
    EXPECT_EQ(heard[1], "Wanadoo Modem");
}

TEST(NetworkManagerName, EmptyOnABusThatIsNotConnected) {
    NetworkManagerName source(QDBusConnection(QStringLiteral("no-such-connection")));
    EXPECT_EQ(source.defaultConnectionName(), "");
}

}  // namespace
}  // namespace tallimer

#include "NetworkManagerNameTest.moc"
