#include "accounts/AccountFiles.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdint>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/Date.h"
#include "tests/common/Fakes.h"

using namespace tallimer;
using tallimer::test::ReadFile;
using tallimer::test::TempDir;
using tallimer::test::WriteFile;
namespace fs = std::filesystem;

namespace {

const char kNewAccount[] =
    "0\r\n0\r\n0\r\n0\r\n0.266667\r\n0\r\n0.5\r\n0.74\r\n0\r\n0\r\n0\r\n0\r\n0\r\n1 1\r\n"
    "1899 12 30\r\n1\r\n";

// An account with every field away from its default.
Account Full() {
    Account a;
    a.periodDuration = 3725000;
    a.periodCost = 1234.5678f;
    a.packageDuration = 72000000;
    a.packageRemaining = -5;
    a.pricePerSecond = 0.0125f;
    a.creditDuration = 180000;
    a.offPeakPrice = -0.25f;
    a.creditPrice = 1234567;
    a.packagePrice = 1e-5f;
    a.packageEnabled = a.primaliste = a.primalisteInternet = a.packageCharged = true;
    a.packageType = 2;
    a.reductionType = 0;
    a.nextInvoice = EncodeDate(2001, 3, 15) + 0.75;
    a.periodMonths = 65535;
    return a;
}

std::vector<std::string> Tokens(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string t; in >> t;) out.push_back(t);
    return out;
}

std::vector<std::string> Fields(const Account& a) {
    return Tokens(WriteAccount(a));
}

Account Read(const std::string& bytes) {
    Account a;
    ReadAccount(bytes, a);
    return a;
}

std::string Join(const std::vector<std::string>& tokens, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += tokens[i] + "\n";
    return out;
}

TEST(AccountFileText, ExactBytes) {
    EXPECT_EQ(WriteAccount(Account{}), kNewAccount);
    EXPECT_EQ(WriteAccount(Full()),
              "3725000\r\n1234.57\r\n72000000\r\n-5\r\n0.0125\r\n180000\r\n-0.25\r\n1.23457e+06\r\n"
              "1e-05\r\n1\r\n1\r\n1\r\n1\r\n2 0\r\n2001 3 15\r\n65535\r\n");
    EXPECT_EQ(WriteState(OverallState{}), "0\r\n0\r\n1");
    EXPECT_EQ(WriteState({-1, 0.74f, false}), "-1\r\n0.74\r\n0");

    // Dates beyond the years that read back keep their side of the calendar.
    Account far;
    far.nextInvoice = -2.5e6;
    EXPECT_EQ(Fields(far)[15], "1");
    far.nextInvoice = 2.99e6;
    EXPECT_EQ(Fields(far)[15], "9999");
}

TEST(AccountFileText, FloatsAsPercentG) {
    struct Case {
        float value;
        const char* text;
    } cases[] = {{0, "0"},
                 {0.5f, "0.5"},
                 {0.26666668f, "0.266667"},
                 {1234.5678f, "1234.57"},
                 {100000, "100000"},
                 {1e6f, "1e+06"},
                 {1234567, "1.23457e+06"},
                 {1e-4f, "0.0001"},
                 {1e-5f, "1e-05"},
                 {-1.5e-7f, "-1.5e-07"},
                 {3e38f, "3e+38"},
                 {FLT_MAX, "3.40282e+38"},
                 // Not finite: written so the file still reads, and the fields after it too.
                 {INFINITY, "3.40282e+38"},
                 {-INFINITY, "-3.40282e+38"},
                 {NAN, "0"}};
    for (const auto& c : cases) EXPECT_EQ(FileFloatText(c.value), c.text) << c.value;
}

TEST(AccountFileText, ReadsBackRoundedAndAnyLayout) {
    const std::string written = WriteAccount(Full());
    Account back = Read(written);
    EXPECT_EQ(back.periodCost, 1234.57f);
    EXPECT_EQ(back.creditPrice, 1234570.0f);
    EXPECT_EQ(back.nextInvoice, EncodeDate(2001, 3, 15));  // midnight
    EXPECT_EQ(WriteAccount(back), written);

    const auto tokens = Tokens(written);
    std::string oneLine, mixed = "\t\r\n";
    const char* separators[] = {"\t", "\r\n", "\n", "\r", " \t ", "\r\r\n", "\v\f"};
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        oneLine += tokens[i] + " ";
        mixed += tokens[i] + separators[i % 7];
    }
    EXPECT_EQ(WriteAccount(Read(oneLine)), written);
    EXPECT_EQ(WriteAccount(Read(mixed)), written);
    EXPECT_EQ(WriteAccount(Read(written + "garbage \x01\xFF")), written);

    // Forms the stream extraction accepted.
    Account signs = Read("+5 .5 007 -0 5. 0 1E2 +1.5e-1 -0.0 +1 01 0 0 +2 -0 2000 +2 029 +12");
    EXPECT_EQ(Fields(signs), Tokens("5 0.5 7 0 5 0 100 0.15 -0 1 1 0 0 2 0 2000 2 29 12"));
}

// Totals past 596:31:23 are written and read whole, each duration down to the most negative
// a file can hold reads back, and what fitted 32 bits is written as before.
TEST(AccountFileText, TotalsPastThirtyTwoBitsAndTheExtremesReadBackWhole) {
    Account a;
    a.periodDuration = 2147480000;
    a.packageDuration = a.packageRemaining = a.creditDuration = -2147483647 - 1;
    const std::string fitted = WriteAccount(a);
    EXPECT_EQ(fitted.substr(0, 12), "2147480000\r\n");
    EXPECT_EQ(WriteAccount(Read(fitted)), fitted);
    for (std::int64_t total :
         {std::int64_t{2147489000}, std::int64_t{-2147483647} - 1, INT64_MAX, INT64_MIN}) {
        a.periodDuration = total;
        const std::string written = WriteAccount(a);
        EXPECT_EQ(Read(written).periodDuration, total);
        EXPECT_EQ(WriteAccount(Read(written)), written);
        OverallState state{total, 1, false};
        OverallState back;
        ReadState(WriteState(state), back);
        EXPECT_EQ(back.overallDuration, total);
    }
}

TEST(AccountFileText, StopsAtTheFirstBadValueKeepingDefaultsFromThere) {
    const auto full = Fields(Full());
    const auto defaults = Fields(Account{});
    ASSERT_EQ(full.size(), 19u);
    // Tokens 15 to 17 are one date: it is stored whole or not at all.
    auto firstLost = [](std::size_t k) -> std::size_t { return k >= 15 && k <= 17 ? 15 : k; };
    auto expect = [&](const std::string& text, std::size_t k) {
        auto got = Fields(Read(text));
        for (std::size_t j = 0; j < got.size(); ++j)
            EXPECT_EQ(got[j], j < firstLost(k) ? full[j] : defaults[j])
                << "token " << j << " of " << text;
    };
    // Values that do not even begin as their kind (a number that starts well and goes on
    // with something else is read as far as it goes: see ReadsAsTheStreamExtractionDoes).
    const std::vector<std::string> timeBad = {
        "2147483648", "-2147483649", "9223372036854775807", "--1", "+-1", "+", "x1", ""};
    const std::vector<std::string> totalBad = {"9223372036854775808", "-9223372036854775809", "--1",
                                               "x1", ""};
    const std::vector<std::string> floatBad = {"1e400", "-1e400", "1e-50",    "nan", "inf",
                                               "-inf",  "+-1",    "infinity", ".",   ".e5"};
    const std::vector<std::string> flagBad = {"2", "-1", "true", "256", ".0"};
    const std::vector<std::string> int8Bad = {"2147483648", "x"};
    const std::vector<std::string> dateBad = {"-1", "4294967296", "x"};
    const std::vector<std::string> monthsBad = {"65536", "-1"};
    const std::vector<const std::vector<std::string>*> kinds = {
        &totalBad, &floatBad, &timeBad, &timeBad, &floatBad, &timeBad, &floatBad,
        &floatBad, &floatBad, &flagBad, &flagBad, &flagBad,  &flagBad, &int8Bad,
        &int8Bad,  &dateBad,  &dateBad, &dateBad, &monthsBad};
    for (std::size_t k = 0; k < full.size(); ++k) {
        expect(Join(full, k), k);                                     // the file ends there
        expect(Join(full, k) + "\x1A" + Join(full, full.size()), k);  // Ctrl-Z ends it too
        for (const auto& bad : *kinds[k]) {
            auto tokens = full;
            tokens[k] = bad.empty() ? std::string(100, '7') : bad;  // over-long token
            expect(Join(tokens, tokens.size()), k);
        }
    }
    // A day past its month's end is that month's last; other numbers that are not a day of
    // the calendar keep the default. Reading goes on.
    for (auto [date, read] : {std::pair{"2001 2 29", "2001 2 28"},
                              {"2099 2 31", "2099 2 28"},
                              {"2000 2 31", "2000 2 29"},
                              {"2001 4 31", "2001 4 30"},
                              {"0 1 1", "1899 12 30"},
                              {"10000 1 1", "1899 12 30"},
                              {"2001 13 1", "1899 12 30"},
                              {"2001 1 32", "1899 12 30"},
                              {"2001 2 0", "1899 12 30"},
                              {"2001 0 31", "1899 12 30"}}) {
        auto tokens = full;
        auto parts = Tokens(date);
        std::copy(parts.begin(), parts.end(), tokens.begin() + 15);
        auto got = Fields(Read(Join(tokens, tokens.size())));
        EXPECT_EQ(got[15] + " " + got[16] + " " + got[17], read) << date;
        EXPECT_EQ(got[18], "65535") << date;
    }
    EXPECT_EQ(Read("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 2000 2 29 1").nextInvoice,
              EncodeDate(2000, 2, 29));
}

TEST(AccountFileText, ReadsAsTheStreamExtractionDoes) {
    const auto full = Fields(Full());
    const auto defaults = Fields(Account{});
    // Field `at` of a full account replaced by `text`: the fields the reading gives.
    auto withField = [&](std::size_t at, const std::string& text) {
        auto tokens = full;
        tokens[at] = text;
        return Fields(Read(Join(tokens, tokens.size())));
    };
    // Full up to `at`, then `read`, then defaults: where the reading stopped.
    auto stoppedAfter = [&](std::size_t at, const std::vector<std::string>& read) {
        auto out = full;
        std::copy(read.begin(), read.end(), out.begin() + static_cast<long>(at));
        for (std::size_t j = at + read.size(); j < out.size(); ++j) out[j] = defaults[j];
        return out;
    };

    // A number, then the rest of its token where the next value starts.
    EXPECT_EQ(withField(0, "3725000x"), stoppedAfter(0, {"3725000"}));
    EXPECT_EQ(withField(0, "0x10"), stoppedAfter(0, {"0"}));
    EXPECT_EQ(withField(1, "2,5"), stoppedAfter(1, {"2"}));
    EXPECT_EQ(withField(1, "1e"), stoppedAfter(1, {"1"}));
    EXPECT_EQ(withField(1, "1e+x"), stoppedAfter(1, {"1"}));
    EXPECT_EQ(withField(1, "0x1p3"), stoppedAfter(1, {"0"}));
    EXPECT_EQ(withField(10, "0.0"), stoppedAfter(10, {"0"}));
    EXPECT_EQ(withField(13, "1.0"), stoppedAfter(13, {"1"}));
    EXPECT_EQ(withField(15, "1e3"), stoppedAfter(15, {"1899", "12", "30"}));  // no month
    EXPECT_EQ(Fields(Read("3725000x 5")), stoppedAfter(0, {"3725000"}));
    // "1.5" as an integer is 1, and ".5" is the next value: every value after moves on one.
    auto shifted = Fields(Read("1.5 " + Join(full, full.size())));
    EXPECT_EQ(shifted[0], "1");
    EXPECT_EQ(shifted[1], "0.5");
    EXPECT_EQ(std::vector<std::string>(shifted.begin() + 2, shifted.begin() + 6),
              std::vector<std::string>({full[0], "1234", "0.57", full[2]}));
    EXPECT_EQ(Fields(Read("12abc")), stoppedAfter(0, {"12"}));

    // Leading zeros are no limit, and a real keeps its exact rounding past many digits.
    EXPECT_EQ(withField(0, std::string(69, '0') + "5"), withField(0, "5"));
    EXPECT_EQ(Read(std::string(200, '0') + "7 0." + std::string(300, '0') + "1e301").periodCost,
              1.0f);
    EXPECT_EQ(Read("0 1.000000059604644775390625" + std::string(900, '0') + "1").periodCost,
              1.00000012f);  // just above half a step: up
    EXPECT_EQ(Read("0 1.000000059604644775390625" + std::string(900, '0')).periodCost,
              1.0f);  // exactly half: to even

    // Type numbers go through an int and keep its low 8 bits; the reading goes on.
    auto types = withField(13, "200");
    EXPECT_EQ(types[13], "-56");
    EXPECT_EQ(types, [&] {
        auto t = full;
        t[13] = "-56";
        return t;
    }());
    EXPECT_EQ(withField(14, "-129")[14], "127");
    EXPECT_EQ(withField(14, "384")[14], "-128");
    Account byType = Read(Join(full, 13) + "200 256 2001 3 15 6");
    EXPECT_EQ(byType.packageType, -56);
    EXPECT_EQ(byType.reductionType, 0);
    EXPECT_EQ(byType.nextInvoice, EncodeDate(2001, 3, 15));
    EXPECT_EQ(byType.periodMonths, 6);

    // msTIME's own stream extraction reads durations the same.
    for (const std::string& text :
         std::vector<std::string>{"3725000x", "1.5", std::string(69, '0') + "5", "-12abc"}) {
        msTIME streamed;
        std::istringstream in(text);
        in >> streamed;
        EXPECT_EQ(Read(text).periodDuration, streamed) << text;
    }

    // The state file, and the same through the files on disk.
    OverallState state;
    ReadState("7 2,5 0", state);
    EXPECT_EQ(WriteState(state), "7\r\n2\r\n1");
    TempDir dir;
    fs::create_directories(dir.path() / "Comptes");
    WriteFile(dir.path() / "tallimer.inf", "7 2,5 0");
    WriteFile(dir.path() / "Comptes" / "a.fai", Join(full, 13) + "200 256 2001 3 15 6");
    OverallState loaded;
    AccountCollection accounts;
    LoadAll(dir.str(), accounts, loaded);
    EXPECT_EQ(WriteState(loaded), WriteState(state));
    EXPECT_EQ(WriteAccount(*accounts.find("a")), WriteAccount(byType));
}

TEST(StateFileText, ReadsWhatIsThereAndStops) {
    auto read = [](const std::string& text) {
        OverallState s;
        ReadState(text, s);
        return WriteState(s);
    };
    EXPECT_EQ(read(""), "0\r\n0\r\n1");
    EXPECT_EQ(read("3725000\r\n1234.5678"), "3725000\r\n1234.57\r\n1");  // two values only
    EXPECT_EQ(read("3725000 1.23457e+06 0"), "3725000\r\n1.23457e+06\r\n0");
    EXPECT_EQ(read("\t5\r\n\r\n2.5\n0\r\n"), "5\r\n2.5\r\n0");
    EXPECT_EQ(read("5 2.5 2"), "5\r\n2.5\r\n1");
    EXPECT_EQ(read("5 nan 0"), "5\r\n0\r\n1");
    EXPECT_EQ(read("5000000000 2.5 0"), "5000000000\r\n2.5\r\n0");
    EXPECT_EQ(read("9223372036854775808 2.5 0"), "0\r\n0\r\n1");
    EXPECT_EQ(read("5 2\x1A.5 0"), "5\r\n2\r\n1");
    EXPECT_EQ(read(std::string("5 \0 2.5 0", 9)), "5\r\n0\r\n1");
}

TEST(AccountFileNames, OnlyWhatLinuxCannotHoldIsEscaped) {
    struct Case {
        std::string name, file;
    } cases[] = {{"Wanadoo", "Wanadoo.fai"},
                 {"", ".fai"},
                 {".", "..fai"},
                 {"..", "...fai"},
                 {"a%2Fb", "a%2Fb.fai"},
                 {"\xC9t\xE9 2", "\xC9t\xE9 2.fai"},
                 {"x.fai", "x.fai.fai"},
                 {"a\\b", "a\\b.fai"},
                 {"a/b", "a\\2Fb.fai"},
                 {std::string("a\0b", 3), "a\\00b.fai"},
                 {"a\\2F", "a\\5C2F.fai"},
                 {"\\\\5C/", "\\\\5C5C\\2F.fai"},
                 {"/", "\\2F.fai"}};
    for (const auto& c : cases) {
        EXPECT_EQ(AccountFileName(c.name), c.file);
        std::string back;
        EXPECT_TRUE(AccountNameFromFileName(c.file, back));
        EXPECT_EQ(back, c.name);
    }
    std::string name;
    EXPECT_TRUE(AccountNameFromFileName("X.FAI", name));
    EXPECT_EQ(name, "X");
    EXPECT_TRUE(AccountNameFromFileName("a\\2f.fAi", name));
    EXPECT_EQ(name, "a\\2f");  // escapes are upper case only
    for (const char* other : {"fai", "x.fai.tmp", "x.fa", "x_fai", "tallimer.inf"})
        EXPECT_FALSE(AccountNameFromFileName(other, name)) << other;
}

class AccountFolder : public ::testing::Test {
  protected:
    TempDir dir;
    std::string app = dir.str();
    fs::path comptes = dir.path() / "Comptes";

    AccountCollection Load(OverallState& state) {
        AccountCollection c;
        LoadAll(app, c, state);
        return c;
    }
    AccountCollection Load() {
        OverallState s;
        return Load(s);
    }
    static std::vector<std::string> Names(const AccountCollection& c) {
        std::vector<std::string> out;
        for (const auto& [n, a] : c) out.push_back(n);
        return out;
    }
};

TEST_F(AccountFolder, SaveThenLoadRestoresEverything) {
    AccountCollection c;
    c.findOrCreate("Wanadoo") = Full();
    c.findOrCreate("");
    c.findOrCreate("ABC").periodCost = 1;
    c.findOrCreate("abc").periodCost = 2;  // its own file here, unlike on the old platform
    c.findOrCreate("\xC9t\xE9");
    c.findOrCreate("VPN/bureau").periodMonths = 6;
    c.findOrCreate(std::string("nul\0x", 5)).periodMonths = 7;
    SaveAll(app, c, {3725000, 1234567, false});  // "Comptes" missing: created

    EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf"), "3725000\r\n1.23457e+06\r\n0");
    EXPECT_EQ(ReadFile(comptes / ".fai"), kNewAccount);
    EXPECT_TRUE(fs::exists(comptes / "VPN\\2Fbureau.fai"));
    EXPECT_EQ(std::distance(fs::directory_iterator(comptes), fs::directory_iterator()), 7);

    OverallState s;
    AccountCollection back = Load(s);
    EXPECT_EQ(s.overallDuration, 3725000);
    EXPECT_EQ(s.overallCost, 1234570.0f);
    EXPECT_FALSE(s.askOnExit);
    EXPECT_EQ(Names(back), Names(c));
    for (const auto& [name, account] : c) {
        ASSERT_NE(back.find(name), nullptr);
        EXPECT_EQ(WriteAccount(*back.find(name)), WriteAccount(account)) << name;
    }
    EXPECT_EQ(back.find("Wanadoo")->periodCost, 1234.57f);
    EXPECT_EQ(back.find("Wanadoo")->nextInvoice, EncodeDate(2001, 3, 15));

    // Saving again replaces only what changed.
    auto inode = [&](const fs::path& p) {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_ino;
    };
    auto before = inode(comptes / ".fai"), stateBefore = inode(dir.path() / "tallimer.inf");
    c.findOrCreate("ABC").periodCost = 3;
    SaveAll(app, c, {3725000, 1234567, false});
    EXPECT_EQ(inode(comptes / ".fai"), before);
    EXPECT_EQ(inode(dir.path() / "tallimer.inf"), stateBefore);
    EXPECT_EQ(Tokens(ReadFile(comptes / "ABC.fai"))[1], "3");
}

TEST_F(AccountFolder, OddEntriesLoadWithoutLoss) {
    fs::create_directories(comptes / "x.fai");  // a folder: an account with the defaults
    WriteFile(comptes / "X.FAI", "5 1.5");
    WriteFile(comptes / "Y.FAI", "1 1");  // older than Y.fai, which this program writes
    WriteFile(comptes / "Y.fai", "2 2");
    WriteFile(comptes / ".fai", "");
    WriteFile(comptes / "notes.txt", "9");
    WriteFile(comptes / "Z.fai.tmp", "9");
    WriteFile(comptes / "\xE9t\xE9.fai", "7\r\n\x1A 8");
    WriteFile(dir.path() / "tallimer.inf", "12 2.5");
    OverallState s;
    AccountCollection c = Load(s);
    EXPECT_EQ(Names(c), (std::vector<std::string>{"", "X", "Y", "x", "\xE9t\xE9"}));
    EXPECT_EQ(WriteAccount(*c.find("x")), kNewAccount);
    EXPECT_EQ(c.find("X")->periodDuration, 5);
    EXPECT_EQ(c.find("X")->periodCost, 1.5f);
    EXPECT_EQ(c.find("Y")->periodDuration, 2);
    EXPECT_EQ(c.find("\xE9t\xE9")->periodDuration, 7);
    EXPECT_EQ(c.find("\xE9t\xE9")->periodCost, 0);
    EXPECT_EQ(s.overallDuration, 12);
    EXPECT_TRUE(s.askOnExit);
}

TEST_F(AccountFolder, HugeFilesReadOnlyWhatIsNeeded) {
    fs::create_directories(comptes);
    WriteFile(comptes / "big.fai", WriteAccount(Full()));
    fs::resize_file(comptes / "big.fai", 100u << 20);  // 100 MB of NUL bytes after the values
    WriteFile(comptes / "junk.fai", "");
    fs::resize_file(comptes / "junk.fai", 100u << 20);
    WriteFile(dir.path() / "tallimer.inf", "");
    fs::resize_file(dir.path() / "tallimer.inf", 100u << 20);
    OverallState s;
    AccountCollection c = Load(s);
    EXPECT_EQ(WriteAccount(*c.find("big")), WriteAccount(Full()));
    EXPECT_EQ(WriteAccount(*c.find("junk")), kNewAccount);
    EXPECT_EQ(WriteState(s), "0\r\n0\r\n1");
}

TEST_F(AccountFolder, NothingMissingOrUnwritableFails) {
    OverallState s;
    EXPECT_TRUE(Load(s).empty());  // no state file, no "Comptes"
    EXPECT_EQ(WriteState(s), "0\r\n0\r\n1");

    WriteFile(comptes, "not a folder");
    AccountCollection c;
    c.findOrCreate("a");
    SaveAll(app, c, {7, 1, true});
    EXPECT_EQ(ReadFile(comptes), "not a folder");
    EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf"), "7\r\n1\r\n1");
    EXPECT_TRUE(Load().empty());

    fs::remove(comptes);
    fs::create_directories(comptes / "b.fai");  // a folder in the way of one file only
    c.findOrCreate("b");
    c.findOrCreate("c");
    SaveAll(app, c, {});
    EXPECT_TRUE(fs::is_directory(comptes / "b.fai"));
    EXPECT_EQ(ReadFile(comptes / "a.fai"), kNewAccount);
    EXPECT_EQ(ReadFile(comptes / "c.fai"), kNewAccount);
}

TEST_F(AccountFolder, FailedWriteKeepsThePreviousFile) {
    fs::create_directories(comptes);
    const fs::path file = comptes / "a.fai";
    WriteFile(file, "before");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);

    // A full disk: writes beyond the limit fail.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 8;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool written = WriteFileAtomically(file.string(), WriteAccount(Full()));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadFile(file), "before");
    EXPECT_FALSE(fs::exists(comptes / "a.fai.tmp"));

    // The permissions of the file it replaces stay, and a link stays a link.
    EXPECT_TRUE(WriteFileAtomically(file.string(), "after"));
    EXPECT_EQ(ReadFile(file), "after");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("a.fai", comptes / "link.fai");
    EXPECT_TRUE(WriteFileAtomically((comptes / "link.fai").string(), "linked"));
    EXPECT_TRUE(fs::is_symlink(comptes / "link.fai"));
    EXPECT_EQ(ReadFile(file), "linked");

    // A read-only file is left as it is, as the old platform left it.
    fs::permissions(file, fs::perms::owner_read);
    AccountCollection c;
    c.findOrCreate("a");
    SaveAll(app, c, {});
    if (geteuid() == 0) GTEST_SKIP() << "root writes read-only files; the check needs a user";
    EXPECT_EQ(ReadFile(file), "linked");
}

}  // namespace
