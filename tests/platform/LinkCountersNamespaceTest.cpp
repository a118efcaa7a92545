// The link counters on a real default route, in a private network namespace.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QThread>

#include "platform/LinkCountersLinux.h"
#include "tests/common/qt/PrivateNetwork.h"

namespace tallimer {
namespace {

bool Ip(const QStringList& args, QString* output) {
    return test::Run("ip", args, output);
}

// One datagram towards an address of the link's subnet that nobody holds: the address
// lookup for it goes out on the link. It never leaves the namespace.
void SendOneDatagram() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    inet_pton(AF_INET, "192.0.2.254", &to.sin_addr);
    sendto(s, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    close(s);
}

TEST(LinkCountersNamespace, FollowsTheDefaultRouteOfARealLink) {
    TALLIMER_ENTER_PRIVATE_NETWORK();
    QString out;
    LinkCountersLinux source;
    // A namespace of its own has no route at all.
    EXPECT_FALSE(source.read().has_value());

    if (!Ip({"link", "add", "veth0", "type", "veth", "peer", "name", "veth1"}, &out))
        GTEST_SKIP() << "veth links refused: " << out.toStdString();
    ASSERT_TRUE(Ip({"addr", "add", "192.0.2.1/24", "dev", "veth0"}, &out)) << out.toStdString();
    ASSERT_TRUE(Ip({"link", "set", "veth1", "up"}, &out)) << out.toStdString();
    ASSERT_TRUE(Ip({"link", "set", "veth0", "up"}, &out)) << out.toStdString();
    // Only a subnet route so far.
    EXPECT_FALSE(source.read().has_value());

    ASSERT_TRUE(Ip({"route", "add", "default", "dev", "veth0"}, &out)) << out.toStdString();
    EXPECT_EQ(source.defaultRouteInterface(), "veth0");
    auto before = source.read();
    ASSERT_TRUE(before.has_value());
    ASSERT_TRUE(before->received.has_value());
    ASSERT_TRUE(before->sent.has_value());

    SendOneDatagram();
    QElapsedTimer clock;
    clock.start();
    std::optional<LinkCounters> after;
    do {
        after = source.read();
        ASSERT_TRUE(after.has_value());
        if (*after->sent != *before->sent) break;
        QThread::msleep(10);
    } while (clock.elapsed() < 10000);
    EXPECT_GT(*after->sent, *before->sent) << "the link's send counter did not move";

    // The connection keeps its link; the next one looks for the default route again.
    ASSERT_TRUE(Ip({"route", "del", "default"}, &out)) << out.toStdString();
    EXPECT_TRUE(source.read().has_value());
    source.connectionStarted();
    EXPECT_FALSE(source.read().has_value());

    // A link that goes away is noticed at the next reading.
    ASSERT_TRUE(Ip({"route", "add", "default", "dev", "veth0"}, &out)) << out.toStdString();
    ASSERT_TRUE(source.read().has_value());
    ASSERT_TRUE(Ip({"link", "del", "veth0"}, &out)) << out.toStdString();
    EXPECT_FALSE(source.read().has_value());
}

}  // namespace
}  // namespace tallimer
