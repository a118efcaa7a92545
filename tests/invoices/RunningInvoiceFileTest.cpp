#include "invoices/RunningInvoiceFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "invoices/Invoices.h"
#include "support/Errors.h"
#include "support/FileWrite.h"
#include "tests/common/Fakes.h"

using namespace tallimer;
using test::FakeInvoice;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

namespace {

class RunningFileTest : public ::testing::Test {
  protected:
    TempDir dir;
    FakeInvoice invoice;
    std::vector<std::string> reports;
    RunningInvoiceFile running{invoice, dir.str(), Locale::french(),
                               [this](const std::exception& e) { reports.push_back(e.what()); }};
    DateTime when = EncodeDateTime({2001, 3, 5, 21, 7, 44, 0, 2});

    RunningFileTest() {
        invoice.template_ = {{"Facture", {}}};
        invoice.paragraphs = invoice.template_;
    }
    std::string temp() { return ReadFile(dir.path() / "temp.rtf"); }
};

TEST_F(RunningFileTest, EveryLineReachesTheFileAtOnce) {
    running.AddLine(when, msTIME::Hms(1, 2, 9, 0), 12.3456f);
    EXPECT_EQ(temp(), "Facture\n\t05 mars 01, 21:07:44\t01:02:09\t12,35");
    running.AddLine(when, 0, 9.9f);
    EXPECT_EQ(temp(),
              "Facture\n\t05 mars 01, 21:07:44\t01:02:09\t12,35\n"
              "\t05 mars 01, 21:07:44\t00:00:00\t9,90");
    EXPECT_EQ(invoice.saves, std::vector<std::string>(2, dir.str() + "temp.rtf"));
    EXPECT_TRUE(reports.empty());
}

TEST_F(RunningFileTest, ALineWhoseWriteFailsStaysAndIsReported) {
    invoice.failSave = true;
    EXPECT_NO_THROW(running.AddLine(when, 1000, 0.5f));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Impossible de créer le fichier " + dir.str() + "temp.rtf");
    EXPECT_EQ(invoice.paragraphs.size(), 2u);
    invoice.failSave = false;
    running.AddLine(when, 2000, 0.25f);
    EXPECT_EQ(temp(),
              "Facture\n\t05 mars 01, 21:07:44\t00:00:01\t0,50\n"
              "\t05 mars 01, 21:07:44\t00:00:02\t0,25");
}

TEST_F(RunningFileTest, AClosedPeriodReachesTheFile) {
    Account account;
    account.periodCost = 3;
    account.nextInvoice = EncodeDate(2001, 3, 5);
    running.AddLine(when, 1000, 3);
    running.ClosePeriod(account, "Maison", EncodeDate(2001, 3, 6));
    EXPECT_EQ(temp(), "Facture");
    EXPECT_EQ(ReadFile(dir.path() / "Factures" / "Maison 05 mars 01.rtf"),
              "Facture\n\t05 mars 01, 21:07:44\t00:00:01\t3,00\n\n\nCoût total = 3,00\n"
              "Durée totale = 00:00:00");
    EXPECT_TRUE(reports.empty());
}

TEST_F(RunningFileTest, AHalfDoneClosingIsWrittenThenRaised) {
    // Filed, but the template is unreadable: the filed lines must not come back after a crash.
    Account account;
    account.nextInvoice = EncodeDate(2001, 3, 5);
    running.AddLine(when, 1000, 3);
    invoice.failLoad = true;
    EXPECT_THROW(running.ClosePeriod(account, "Maison", EncodeDate(2001, 3, 6)), FileError);
    EXPECT_EQ(temp(), "");
    EXPECT_TRUE(reports.empty());
}

TEST_F(RunningFileTest, AFailedArchiveAndAFailedWriteAreBothShown) {
    Account account;
    invoice.failSave = true;
    EXPECT_THROW(running.ClosePeriod(account, "Maison", EncodeDate(2001, 3, 6)), FileError);
    EXPECT_EQ(reports.size(), 1u);
}

// A closing with another account's line in the running invoice, killed at each file call
// in turn: after the next start (and the closing's retry when it had not happened), the
// archive holds the closing account's line alone and the other line waits in the invoice.
TEST(RunningFileCrash, TheOtherAccountsLineIsNeitherFiledNorLostAtAnyPoint) {
    const DateTime when = EncodeDateTime({2001, 3, 5, 21, 7, 44, 0, 2});
    const std::string mine = InvoiceLineText(when, 1000, 3, Locale::french());
    const std::string theirs = InvoiceLineText(when, 2000, 1, Locale::french());
    int calls = 0;
    for (int crashAt = 0;; ++crashAt) {
        TempDir dir;
        Account account;
        account.periodCost = 3;
        account.nextInvoice = EncodeDate(2001, 3, 5);
        ASSERT_TRUE(SaveAccountFile(dir.str(), "Maison", account));
        WriteFile(dir.path() / "temp.rtf", "Facture");
        auto close = [&](FakeInvoice& invoice, Account& a) {
            RunningInvoiceFile running(invoice, dir.str(), Locale::french(), {});
            try {
                running.ClosePeriod(a, "Maison", EncodeDate(2001, 3, 6));
            } catch (const FileError&) {
            }
        };
        FakeInvoice invoice;
        invoice.template_ = invoice.paragraphs = {{"Facture", {}}};
        {
            RunningInvoiceFile running(invoice, dir.str(), Locale::french(), {});
            running.AddLine(when, 1000, 3, "Maison");
            running.AddLine(when, 2000, 1, "Club Internet");
        }
        calls = 0;
        SetFileCallHook([&](FileCall, const std::string&) { return calls++ < crashAt ? 0 : EIO; });
        close(invoice, account);
        SetFileCallHook({});
        if (calls <= crashAt) break;  // the closing ran whole: every point was tried

        // The next start, over what is on disk.
        FakeInvoice restarted;
        restarted.template_ = {{"Facture", {}}};
        std::string kept = ReadFile(dir.path() / "temp.rtf");
        for (std::size_t at = 0, nl = 0; nl != std::string::npos; at = nl + 1)
            restarted.paragraphs.push_back({kept.substr(at, (nl = kept.find('\n', at)) - at), {}});
        AccountCollection accounts;
        OverallState state;
        LoadAll(dir.str(), accounts, state);
        RunningInvoiceFile(restarted, dir.str(), Locale::french(), {}).Recover(accounts, state);
        Account& after = *accounts.find("Maison");
        if (after.nextInvoice == EncodeDate(2001, 3, 5)) close(restarted, after);
        EXPECT_EQ(after.nextInvoice, EncodeDate(2001, 4, 5)) << crashAt;
        EXPECT_EQ(ReadFile(dir.path() / "Factures" / "Maison 05 mars 01.rtf"),
                  "Facture\n" + mine + "\n\n\nCoût total = 3,00\nDurée totale = 00:00:00")
            << crashAt;
        EXPECT_EQ(ReadFile(dir.path() / "temp.rtf"), "Facture\n" + theirs) << crashAt;
        if (HasFailure()) return;
    }
    EXPECT_GT(calls, 10);
}

}  // namespace
