#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accounts/Comptes.h"

using tallimer::Account;
using tallimer::AccountCollection;

namespace {

std::vector<std::string> Names(const AccountCollection& c) {
    std::vector<std::string> names;
    for (const auto& [name, account] : c) names.push_back(name);
    return names;
}

TEST(AccountCollection, IteratesByUnsignedBytesPrefixesFirst) {
    AccountCollection c;
    for (const char* n : {"b", "B", "a", "ab"}) c.findOrCreate(n);
    EXPECT_EQ(Names(c), (std::vector<std::string>{"B", "a", "ab", "b"}));

    AccountCollection more;
    // Accented bytes (0x80 and above) come after every ASCII name sharing the prefix.
    for (const char* n : {"e\xE9", "ez", "e", "abc", "ABC", "Abc", "\xC9t\xE9", "z", ""})
        more.findOrCreate(n);
    EXPECT_EQ(Names(more), (std::vector<std::string>{"", "ABC", "Abc", "abc", "e", "ez", "e\xE9",
                                                     "z", "\xC9t\xE9"}));
}

TEST(AccountCollection, FindOrCreateNeverReplacesAndRecordsNeverMove) {
    AccountCollection c;
    Account& first = c.findOrCreate("Wanadoo");
    first.periodCost = 12.5f;
    first.periodMonths = 3;
    Account& again = c.findOrCreate("Wanadoo");
    EXPECT_EQ(&first, &again);
    EXPECT_EQ(again.periodCost, 12.5f);
    EXPECT_EQ(again.periodMonths, 3);

    Account& empty = c.findOrCreate("");
    EXPECT_EQ(empty.pricePerSecond, 0.26666668f);
    EXPECT_EQ(c.size(), 2u);
    EXPECT_EQ(c.find(""), &empty);
    EXPECT_EQ(c.find("wanadoo"), nullptr);  // case matters

    for (int i = 0; i < 2000; ++i) c.findOrCreate("n" + std::to_string(i));
    EXPECT_EQ(&c.findOrCreate("Wanadoo"), &first);
    EXPECT_EQ(&c.findOrCreate(""), &empty);
    EXPECT_EQ(first.periodCost, 12.5f);
    EXPECT_EQ(c.size(), 2002u);
}

}  // namespace
