// The address list on this machine's own interfaces.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/HostAddresses.h"

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

}  // namespace
}  // namespace tallimer
