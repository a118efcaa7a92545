// The address list on this machine's own interfaces.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include "platform/HostAddresses.h"
#include "tests/common/qt/PrivateNetwork.h"

namespace tallimer {
namespace {

TEST(HostAddresses, LoopbackComesFirstAndEveryEntryIsDottedIPv4) {
    const std::vector<std::string> list = HostAddresses();
    ASSERT_FALSE(list.empty()) << "the loopback interface is up on any working machine";
    EXPECT_EQ(list.front(), "127.0.0.1");
    for (const std::string& a : list) {
        in_addr parsed{};
        EXPECT_EQ(inet_pton(AF_INET, a.c_str(), &parsed), 1) << a;
        char back[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &parsed, back, sizeof back);
        EXPECT_EQ(a, back) << "not in canonical dotted form";
    }
}

using List = std::vector<std::string>;

bool Ip(const QStringList& args, QString* output) {
    return test::Run("ip", args, output);
}

// One reader kept across polls, as the detector keeps it, on real links.
TEST(HostAddresses, AKeptReaderFollowsTheLinksInIndexOrderWithTheLocalAddress) {
    TALLIMER_ENTER_PRIVATE_NETWORK();
    QString out;
    HostAddressReader reader;
    EXPECT_EQ(reader.read(), List{}) << "a namespace of its own starts with loopback down";
    ASSERT_TRUE(Ip({"link", "set", "lo", "up"}, &out)) << out.toStdString();
    EXPECT_EQ(reader.read(), List{"127.0.0.1"});

    if (!Ip({"link", "add", "veth0", "type", "veth", "peer", "name", "veth1"}, &out))
        GTEST_SKIP() << "veth links refused: " << out.toStdString();
    // A point-to-point address, as a dial-up link has: the local end, not the peer.
    ASSERT_TRUE(Ip({"addr", "add", "10.0.0.1", "peer", "10.0.0.2", "dev", "veth1"}, &out))
        << out.toStdString();
    ASSERT_TRUE(Ip({"addr", "add", "192.0.2.7/24", "dev", "veth0"}, &out)) << out.toStdString();
    ASSERT_TRUE(Ip({"addr", "add", "192.0.2.8/24", "dev", "veth0", "label", "veth0:1"}, &out))
        << out.toStdString();
    EXPECT_EQ(reader.read(), List{"127.0.0.1"}) << "addresses of links that are down";

    // In interface-index order, whichever came up first; one interface's in its own order.
    ASSERT_TRUE(Ip({"link", "set", "veth1", "up"}, &out)) << out.toStdString();
    ASSERT_TRUE(Ip({"link", "set", "veth0", "up"}, &out)) << out.toStdString();
    if (if_nametoindex("veth0") < if_nametoindex("veth1"))
        EXPECT_EQ(reader.read(), (List{"127.0.0.1", "192.0.2.7", "192.0.2.8", "10.0.0.1"}));
    else
        EXPECT_EQ(reader.read(), (List{"127.0.0.1", "10.0.0.1", "192.0.2.7", "192.0.2.8"}));
    EXPECT_EQ(HostAddresses(), reader.read());

    ASSERT_TRUE(Ip({"link", "set", "veth0", "down"}, &out)) << out.toStdString();
    EXPECT_EQ(reader.read(), (List{"127.0.0.1", "10.0.0.1"}));
    ASSERT_TRUE(Ip({"link", "del", "veth1"}, &out)) << out.toStdString();
    EXPECT_EQ(reader.read(), List{"127.0.0.1"});

    // An address that comes or goes on a link that stays up, read after a quiet poll.
    EXPECT_EQ(reader.read(), List{"127.0.0.1"});
    ASSERT_TRUE(Ip({"addr", "add", "127.0.0.9/8", "dev", "lo"}, &out)) << out.toStdString();
    EXPECT_EQ(reader.read(), (List{"127.0.0.1", "127.0.0.9"}));
    ASSERT_TRUE(Ip({"addr", "del", "127.0.0.9/8", "dev", "lo"}, &out)) << out.toStdString();
    EXPECT_EQ(reader.read(), List{"127.0.0.1"});
}

}  // namespace
}  // namespace tallimer
