// The running copy's state as the hand-over socket carries it to the command line.
#include <gtest/gtest.h>

#include "metering/Report.h"

namespace tallimer {
namespace {

SessionState Metering() {
    SessionState s;
    s.online = true;
    s.account = "Free\n%20 été";  // what a line or an escape could break
    s.connectionMs = 754000;
    s.connectionCost = 1.23f;
    s.rateIcon = 3;              // package time, the highest
    s.periodMs = 5'000'000'000;  // past 2^31 ms
    s.periodCost = 0.1f;
    s.packageEnabled = true;
    s.packageLeftMs = -5000;
    s.periodEnd = 46371;
    s.overallMs = 123456789012;
    s.overallCost = 98765.43f;
    return s;
}

TEST(StateText, EveryFigureCrossesTheSocketWhole) {
    const SessionState s = Metering();
    std::string folder;
    const auto back = ParseStateText(StateText(s, "/home/u/d é/\r"), folder);
    ASSERT_TRUE(back);
    EXPECT_EQ(folder, "/home/u/d é/\r");
    EXPECT_EQ(back->online, s.online);
    EXPECT_EQ(back->account, s.account);
    EXPECT_EQ(back->connectionMs, s.connectionMs);
    EXPECT_EQ(back->connectionCost, s.connectionCost);
    EXPECT_EQ(back->rateIcon, s.rateIcon);
    EXPECT_EQ(back->periodMs, s.periodMs);
    EXPECT_EQ(back->periodCost, s.periodCost);
    EXPECT_EQ(back->packageEnabled, s.packageEnabled);
    EXPECT_EQ(back->packageLeftMs, s.packageLeftMs);
    EXPECT_EQ(back->periodEnd, s.periodEnd);
    EXPECT_EQ(back->overallMs, s.overallMs);
    EXPECT_EQ(back->overallCost, s.overallCost);
}

// An answer cut anywhere (a copy killed while answering) or altered is never taken for
// figures: the command line then reads the files alone.
TEST(StateText, AnAnswerCutShortOrSpoiltIsRefused) {
    const std::string whole = StateText(Metering(), "/d/");
    std::string folder;
    for (std::size_t n = 0; n < whole.size(); ++n)
        EXPECT_FALSE(ParseStateText(whole.substr(0, n), folder)) << n;
    for (const char* spoilt :
         {"connexion_ms=75x", "tarif=7", "en_ligne=2", "compte=%2", "fin_periode=nan"}) {
        std::string text = whole;
        const std::string key = std::string(spoilt).substr(0, std::string(spoilt).find('=') + 1);
        const auto at = text.find("\n" + key) + 1;
        text.replace(at, text.find('\n', at) - at, spoilt);
        EXPECT_FALSE(ParseStateText(text, folder)) << spoilt;
    }
}

}  // namespace
}  // namespace tallimer
