// The link counters on a fake proc and sys tree.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/LinkCountersLinux.h"
#include "tests/common/Fakes.h"

namespace tallimer {
namespace {

using test::TempDir;
using test::WriteFile;

const char* kHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT"
    "           \n";

std::string Route(const std::string& iface, const char* dest, const char* flags, int metric,
                  const char* mask) {
    return iface + "\t" + dest + "\t0101A8C0\t" + flags + "\t0\t0\t" + std::to_string(metric) +
           "\t" + mask + "\t0\t0\t0                                                   \n";
}

class LinkCountersTest : public ::testing::Test {
  protected:
    void routes(const std::string& body) {
        std::filesystem::create_directories(dir.path() / "proc/net");
        WriteFile(dir.path() / "proc/net/route", kHeader + body);
    }
    void stat(const std::string& iface, const char* file, const std::string& text) {
        auto folder = dir.path() / "sys/class/net" / iface / "statistics";
        std::filesystem::create_directories(folder);
        WriteFile(folder / file, text);
    }
    LinkCountersLinux source() {
        return LinkCountersLinux((dir.path() / "proc").string(), (dir.path() / "sys").string());
    }

    TempDir dir;
};

TEST_F(LinkCountersTest, TheDefaultRouteWithTheLowestMetricWins) {
    routes(Route("wlan0", "00000000", "0003", 600, "00000000") +
           Route("eth0", "0001A8C0", "0001", 0, "00FFFFFF") +   // not a default route
           Route("ppp0", "00000000", "0001", 0, "FFFFFFFF") +   // a host route, not default
           Route("down0", "00000000", "0002", 0, "00000000") +  // not up
           Route("ppp1", "00000000", "0001", 50, "00000000") +
           Route("usb0", "00000000", "0003", 50, "00000000"));  // a tie keeps the first
    stat("ppp1", "rx_bytes", "1004096\n");
    stat("ppp1", "tx_bytes", "2048\n");
    stat("wlan0", "rx_bytes", "7\n");
    stat("wlan0", "tx_bytes", "7\n");

    auto c = source().read();
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->received, 1004096u);
    EXPECT_EQ(c->sent, 2048u);
    EXPECT_EQ(source().defaultRouteInterface(), "ppp1");
}

TEST_F(LinkCountersTest, CountersKeepTheLowThirtyTwoBits) {
    routes(Route("ppp0", "00000000", "0001", 0, "00000000"));
    stat("ppp0", "rx_bytes", "4294967496\n");  // 2^32 + 200
    stat("ppp0", "tx_bytes", "18446744073709551615\n");
    auto c = source().read();
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->received, 200u);
    EXPECT_EQ(c->sent, 4294967295u);
}

TEST_F(LinkCountersTest, AMissingOrMalformedFileMakesThatCounterMissing) {
    routes(Route("ppp0", "00000000", "0001", 0, "00000000"));
    stat("ppp0", "tx_bytes", "512\n");
    auto c = source().read();
    ASSERT_TRUE(c.has_value());
    EXPECT_FALSE(c->received.has_value());
    EXPECT_EQ(c->sent, 512u);

    for (const char* bad :
         {"", "\n", "-5\n", "12abc\n", "0x10\n", " 12\n", "99999999999999999999999\n", "1 2\n"}) {
        stat("ppp0", "rx_bytes", bad);
        c = source().read();
        ASSERT_TRUE(c.has_value()) << bad;
        EXPECT_FALSE(c->received.has_value()) << bad;
        EXPECT_EQ(c->sent, 512u);
    }
    stat("ppp0", "rx_bytes", std::string(5000, '1'));
    EXPECT_FALSE(source().read()->received.has_value());
}

TEST_F(LinkCountersTest, NotAvailableWithoutRouteOrStatistics) {
    // No route table at all.
    EXPECT_FALSE(source().read().has_value());
    // A route table without a default route.
    routes(Route("eth0", "0001A8C0", "0001", 0, "00FFFFFF"));
    stat("eth0", "rx_bytes", "1\n");
    stat("eth0", "tx_bytes", "1\n");
    EXPECT_FALSE(source().read().has_value());
    // A default route on an interface that publishes no statistics.
    routes(Route("ppp0", "00000000", "0001", 0, "00000000"));
    EXPECT_FALSE(source().read().has_value());
}

TEST_F(LinkCountersTest, OneConnectionKeepsItsLinkAndReadsItsCountersAfresh) {
    routes(Route("ppp0", "00000000", "0001", 0, "00000000"));
    stat("ppp0", "rx_bytes", "5\n");
    stat("ppp0", "tx_bytes", "6\n");
    stat("eth0", "rx_bytes", "70\n");
    stat("eth0", "tx_bytes", "80\n");
    LinkCountersLinux s = source();
    s.connectionStarted();
    auto first = s.read();
    EXPECT_EQ(first->received, 5u);
    EXPECT_TRUE(first->newLink);
    stat("ppp0", "rx_bytes", "4096\n");
    stat("ppp0", "tx_bytes", "12\n");
    auto c = s.read();
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->received, 4096u);
    EXPECT_EQ(c->sent, 12u);
    EXPECT_FALSE(c->newLink);  // the same link's counters go on

    // Another default route: the connection under way still reads its own link.
    routes(Route("eth0", "00000000", "0001", 0, "00000000"));
    EXPECT_EQ(s.read()->received, 4096u);
    s.connectionStarted();
    c = s.read();
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->received, 70u);
    EXPECT_EQ(c->sent, 80u);
}

TEST_F(LinkCountersTest, GarbledRouteTablesAreSkippedLineByLine) {
    routes(
        "short line\n"
        "ppp9\tZZZZZZZZ\t0\t0001\t0\t0\t0\t00000000\n" +
        Route("../../../etc", "00000000", "0001", 0, "00000000") +
        Route("..", "00000000", "0001", 0, "00000000") + std::string(3000, 'x') + "\n" +
        Route("ppp0", "00000000", "0001", 10, "00000000"));
    stat("ppp0", "rx_bytes", "5\n");
    stat("ppp0", "tx_bytes", "6\n");
    EXPECT_EQ(source().defaultRouteInterface(), "ppp0");
    auto c = source().read();
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->received, 5u);
}

}  // namespace
}  // namespace tallimer
