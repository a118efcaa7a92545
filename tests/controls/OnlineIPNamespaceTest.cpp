// The detector on the machine's real addresses, going on line and off line for real in a
// private network namespace.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

#include "controls/ErrorReport.h"
#include "controls/Onlineip.h"
#include "platform/HostAddresses.h"
#include "tests/common/qt/PrivateNetwork.h"

namespace tallimer {
namespace {

using test::Run;

// Runs the event loop until done() holds; false when the deadline passes first.
bool RunUntil(const std::function<bool()>& done, int deadlineMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    while (!done()) {
        if (clock.elapsed() > deadlineMs) return false;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool Ip(const QStringList& args, QString* output = nullptr) {
    return Run(QStringLiteral("ip"), args, output);
}

TEST(OnlineIPNamespace, GoesOnLineAndOffLineWithARealLink) {
    TALLIMER_ENTER_PRIVATE_NETWORK();
    QString out;
    ASSERT_TRUE(Ip({"link", "set", "lo", "up"}, &out)) << out.toStdString();
    if (!Ip({"link", "add", "veth0", "type", "veth", "peer", "name", "veth1"}, &out))
        GTEST_SKIP() << "veth links refused: " << out.toStdString();
    ASSERT_TRUE(Ip({"addr", "add", "192.0.2.1/24", "dev", "veth0"}, &out)) << out.toStdString();

    std::vector<std::string> reports;
    auto previous = SetErrorReportHandler(
        [&](QObject*, const std::exception& e) { reports.push_back(e.what()); });

    int polls = 0;
    TOnlineIP detector(nullptr, [&] {
        ++polls;
        return HostAddresses();
    });
    struct Change {
        bool online;
        QString ip;
    };
    std::vector<Change> changes;
    QObject::connect(&detector, &TOnlineIP::OnChanged, [&](QObject* sender) {
        EXPECT_EQ(sender, &detector);
        changes.push_back({detector.Online(), detector.IP()});
    });
    detector.SetDispatchInterval(10);

    // An address on a link that is down does not count.
    ASSERT_TRUE(RunUntil([&] { return polls >= 2; }));
    EXPECT_EQ(detector.IP().toStdString(), "127.0.0.1");
    EXPECT_FALSE(detector.Online());
    EXPECT_TRUE(changes.empty());

    ASSERT_TRUE(Ip({"link", "set", "veth0", "up"}, &out)) << out.toStdString();
    ASSERT_TRUE(RunUntil([&] { return !changes.empty(); })) << "never went on line";
    int seen = polls;
    ASSERT_TRUE(RunUntil([&] { return polls >= seen + 3; }));
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(changes[0].online);
    EXPECT_EQ(changes[0].ip.toStdString(), "192.0.2.1");

    ASSERT_TRUE(Ip({"link", "set", "veth0", "down"}, &out)) << out.toStdString();
    ASSERT_TRUE(RunUntil([&] { return changes.size() >= 2; })) << "never went off line";
    seen = polls;
    ASSERT_TRUE(RunUntil([&] { return polls >= seen + 3; }));
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_FALSE(changes[1].online);
    EXPECT_EQ(changes[1].ip.toStdString(), "127.0.0.1");
    EXPECT_TRUE(reports.empty());
    SetErrorReportHandler(previous);
}

}  // namespace
}  // namespace tallimer
