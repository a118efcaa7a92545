// The notification-area icon on a StatusNotifier host: a private bus with a stand-in watcher,
// a private X server, and the icon with the main window's settings in a child run of this
// binary. The test plays the host: it finds the item through the watcher and clicks it over
// D-Bus, as a panel does.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMenu>
#include <QMutex>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <memory>

#include "controls/Trayicon.h"
#include "tests/common/qt/PrivateBus.h"

namespace {

constexpr const char* kChildVariable = "TALLIMER_SNI_CHILD";
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

// What a panel registers on the bus: it hears of the items and says a host is there.
class WatcherStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)

  public:
    bool IsStatusNotifierHostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }
    QStringList RegisteredStatusNotifierItems() const {
        QMutexLocker lock(&mutex_);
        return items_;
    }

    // Each item as "service path".
    QStringList items() const { return RegisteredStatusNotifierItems(); }

  public slots:
    void RegisterStatusNotifierItem(const QString& serviceOrPath) {
        // An item may give its object path alone; its service is then the caller.
        const bool isPath = serviceOrPath.startsWith(QLatin1Char('/'));
        const QString entry = isPath ? message().service() + QLatin1Char(' ') + serviceOrPath
                                     : serviceOrPath + QStringLiteral(" /StatusNotifierItem");
        QMutexLocker lock(&mutex_);
        items_ << entry;
    }
    void RegisterStatusNotifierHost(const QString&) {}

  private:
    mutable QMutex mutex_;
    QStringList items_;
};

void Say(const QByteArray& line) {
    const QByteArray out = "sni: " + line + '\n';
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    std::fflush(stdout);
}

// The child: the icon as the main window sets it up, on the real Qt shell, until stdin closes.
// Each activation Qt reports is written out after the icon has dealt with it.
void RunIconForTheHost() {
    QtTrayShell shell;
    QWidget window;
    QMenu menu;
    menu.addAction(QStringLiteral("&Restaurer"));
    TTrayIcon icon(nullptr, &shell);
    icon.SetHint(QStringLiteral("Le tallimer internet"));
    icon.SetPopupMenu(&menu);
    icon.SetRestoreOn(imNone);
    icon.SetPopupMenuOn(imRightClickUp);
    icon.SetMainWindow(&window);
    icon.Loaded();
    QObject::connect(&menu, &QMenu::aboutToShow, [] { Say("menu-shown"); });
    QObject::connect(&shell.trayIcon(), &QSystemTrayIcon::activated,
                     [&](QSystemTrayIcon::ActivationReason reason) {
                         Say("activated " + QByteArray::number(int(reason)) +
                             (menu.isVisible() ? " menu-open" : " menu-closed") +
                             (window.isVisible() ? " window-shown" : ""));
                     });

    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "the StatusNotifier host is not seen";
    icon.SetVisible(true);
    Say("icon-shown");

    QEventLoop loop;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) loop.quit();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);  // an orphan does not linger
    loop.exec();
    menu.close();
}

class StatusNotifierHost : public ::testing::Test {
  protected:
    StatusNotifierHost() {
        // A test that crashes takes its bus, display and icon with it.
        for (QProcess* p : {&child_, &display_, &daemon_})
            p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    }

    void TearDown() override {
        for (QProcess* p : {&child_, &display_, &daemon_})
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(10000);
            }
        watcherThread_.quit();
        watcherThread_.wait();
        QDBusConnection::disconnectFromBus(QStringLiteral("sni-watcher"));
        QDBusConnection::disconnectFromBus(QStringLiteral("sni-host"));
        watcher_.reset();
    }

    // The first line a process writes on stdout, or empty.
    static QString FirstLine(QProcess& p) {
        QDeadlineTimer deadline(30000);
        while (!p.canReadLine() && !deadline.hasExpired() && p.waitForReadyRead(1000)) {
        }
        return QString::fromUtf8(p.readLine()).trimmed();
    }

    void startBus() {
        address_ = tallimer::test::StartPrivateBus(daemon_, dir_.path(),
                                                   QStringLiteral("unix:dir=") + dir_.path());
        ASSERT_FALSE(address_.isEmpty()) << daemon_.readAllStandardError().toStdString();
    }

    void startDisplay() {
        display_.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                                QStringLiteral("-screen"), QStringLiteral("0"),
                                                QStringLiteral("640x480x24")});
        ASSERT_TRUE(display_.waitForStarted(10000));
        const QString number = FirstLine(display_);
        if (number.isEmpty())
            GTEST_SKIP() << "Xvfb did not start: " << display_.readAllStandardError().toStdString();
        display_.closeReadChannel(QProcess::StandardOutput);
        display_.closeReadChannel(QProcess::StandardError);
        displayName_ = QLatin1Char(':') + number;
    }

    void serveWatcher() {
        QDBusConnection bus =
            QDBusConnection::connectToBus(address_, QStringLiteral("sni-watcher"));
        ASSERT_TRUE(bus.isConnected());
        watcher_ = std::make_unique<WatcherStandIn>();
        watcherThread_.start();
        watcher_->moveToThread(&watcherThread_);
        ASSERT_TRUE(bus.registerObject(
            QStringLiteral("/StatusNotifierWatcher"), watcher_.get(),
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(bus.registerService(kWatcherService));
    }

    void startChild() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), displayName_);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        // The plain desktop: no theme of a desktop of its own between Qt and the bus.
        for (const char* v :
             {"QT_QPA_PLATFORMTHEME", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
              "GNOME_DESKTOP_SESSION_ID", "XAUTHORITY", "WAYLAND_DISPLAY", "GTEST_OUTPUT",
              "GTEST_TOTAL_SHARDS", "GTEST_SHARD_INDEX"})
            env.remove(QString::fromLatin1(v));
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        child_.setProcessEnvironment(env);
        child_.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--gtest_filter=%1.%2")
                          .arg(QString::fromLatin1(info->test_suite_name()),
                               QString::fromLatin1(info->name()))});
        ASSERT_TRUE(child_.waitForStarted(10000));
    }

    // Reads the child's output until `until` holds or the child ends; false on the deadline.
    template <typename Until>
    bool readChild(Until until) {
        QDeadlineTimer deadline(60000);
        for (;;) {
            while (child_.canReadLine()) {
                const QString line = QString::fromUtf8(child_.readLine()).trimmed();
                output_ << line;
                if (line.startsWith(QStringLiteral("sni: "))) said_ << line.mid(5);
            }
            if (until()) return true;
            if (deadline.hasExpired() || child_.state() == QProcess::NotRunning) return false;
            child_.waitForReadyRead(100);
        }
    }
    std::string childLog() {
        return (output_.join(QLatin1Char('\n')) + QLatin1Char('\n') +
                QString::fromUtf8(child_.readAllStandardError()))
            .toStdString();
    }

    // One click of the host on the item.
    void click(const QString& item, const QString& method) {
        const QStringList parts = item.split(QLatin1Char(' '));
        ASSERT_EQ(parts.size(), 2) << item.toStdString();
        QDBusMessage call =
            QDBusMessage::createMethodCall(parts[0], parts[1], kItemInterface, method);
        call << 12 << 460;
        const QDBusMessage reply =
            QDBusConnection::connectToBus(address_, QStringLiteral("sni-host"))
                .call(call, QDBus::Block, 30000);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << method.toStdString() << ": " << reply.errorMessage().toStdString();
    }

    QTemporaryDir dir_;
    QProcess daemon_;
    QProcess display_;
    QProcess child_;
    QString address_;
    QString displayName_;
    QThread watcherThread_;
    std::unique_ptr<WatcherStandIn> watcher_;
    QStringList output_;
    QStringList said_;
};

TEST_F(StatusNotifierHost, RightButtonReleaseOpensTheMenuAndALeftClickDoesNot) {
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        RunIconForTheHost();
        return;
    }
    for (const char* tool : {"dbus-daemon", "Xvfb"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed";
    ASSERT_TRUE(dir_.isValid());
    ASSERT_NO_FATAL_FAILURE(startBus());
    ASSERT_NO_FATAL_FAILURE(serveWatcher());
    ASSERT_NO_FATAL_FAILURE(startDisplay());
    if (IsSkipped()) return;
    ASSERT_NO_FATAL_FAILURE(startChild());

    const bool registered = readChild([&] { return !watcher_->items().isEmpty(); });
    if (!registered && !output_.join(QLatin1Char('\n')).contains(QStringLiteral("[==========]")))
        GTEST_SKIP() << "the icon could not run on the private X server:\n" << childLog();
    ASSERT_TRUE(registered) << "the icon never registered with the watcher:\n" << childLog();
    ASSERT_TRUE(readChild([&] { return said_.contains(QStringLiteral("icon-shown")); }))
        << childLog();
    const QStringList items = watcher_->items();
    ASSERT_EQ(items.size(), 1) << items.join(QLatin1Char(',')).toStdString();

    // A left click, then a right click: each call is answered once the icon has dealt with it.
    ASSERT_NO_FATAL_FAILURE(click(items[0], QStringLiteral("Activate")));
    ASSERT_NO_FATAL_FAILURE(click(items[0], QStringLiteral("ContextMenu")));
    const QString rightClick = QStringLiteral("activated %1").arg(int(QSystemTrayIcon::Context));
    ASSERT_TRUE(readChild([&] { return !said_.filter(rightClick).isEmpty(); })) << childLog();
    const QStringList expected = {
        QStringLiteral("icon-shown"),
        QStringLiteral("activated %1 menu-closed").arg(int(QSystemTrayIcon::Trigger)),
        QStringLiteral("menu-shown"), rightClick + QStringLiteral(" menu-open")};
    EXPECT_EQ(said_.join(QLatin1Char('\n')).toStdString(),
              expected.join(QLatin1Char('\n')).toStdString())
        << childLog();

    child_.closeWriteChannel();
    ASSERT_TRUE(child_.waitForFinished(60000)) << childLog();
    readChild([] { return false; });
    EXPECT_EQ(child_.exitStatus(), QProcess::NormalExit) << childLog();
    EXPECT_EQ(child_.exitCode(), 0) << childLog();
    EXPECT_TRUE(output_.contains(QStringLiteral("[  PASSED  ] 1 test."))) << childLog();
}

}  // namespace

#include "StatusNotifierTest.moc"
