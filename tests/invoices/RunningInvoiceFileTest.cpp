#include "invoices/RunningInvoiceFile.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/Errors.h"
#include "tests/common/Fakes.h"

using namespace tallimer;
using test::FakeInvoice;
using test::ReadFile;
using test::TempDir;

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

}  // namespace
