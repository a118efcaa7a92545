#include "invoices/Invoices.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/Errors.h"
#include "tests/common/Fakes.h"
#include "tests/metering/MeterFixture.h"

using namespace tallimer;
using test::FakeInvoice;
using test::ReadFile;
using test::TempDir;

namespace {

std::string Ymd(DateTime t) {
    YearMonthDay d = DecodeDate(t);
    return std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day);
}

TEST(InvoiceLine, TabsStampDurationAndAmount) {
    DateTime when = EncodeDateTime({2001, 3, 5, 21, 7, 44, 0, 2});
    EXPECT_EQ(InvoiceLineText(when, msTIME::Hms(1, 2, 9, 0), 12.3456f, Locale::french()),
              "\t05 mars 01, 21:07:44\t01:02:09\t12,35");
    EXPECT_EQ(InvoiceLineText(when, 0, 150.37f, Locale::english()),
              "\t05 Mar 01, 21:07:44\t00:00:00\t150.40");
    EXPECT_EQ(InvoiceLineText(when, 0, 12345.0f, Locale::french()),
              "\t05 mars 01, 21:07:44\t00:00:00\t1,235E4");
    FakeInvoice invoice;
    invoice.paragraphs = {{"Facture", {}}};
    AddInvoiceLine(invoice, when, 1000, 0.74f, Locale::french());
    ASSERT_EQ(invoice.paragraphs.size(), 2u);
    EXPECT_EQ(invoice.paragraphs[1].text, "\t05 mars 01, 21:07:44\t00:00:01\t0,74");
}

TEST(ArchivePath, NamesTheProviderAndThePassedBillingDate) {
    DateTime d = EncodeDate(2001, 3, 5);
    EXPECT_EQ(ArchivePath("/app/", "Maison", d, Locale::french()),
              "/app/Factures/Maison 05 mars 01.rtf");
    EXPECT_EQ(ArchivePath("/app/", "Maison", d, Locale::english()),
              "/app/Factures/Maison 05 Mar 01.rtf");
    EXPECT_EQ(ArchivePath("/app/", "", EncodeDate(1899, 12, 30), Locale::french()),
              "/app/Factures/ 30 déc. 99.rtf");
    EXPECT_EQ(ArchivePath("/app/", "VPN/maison", d, Locale::french()),
              "/app/Factures/VPN\\2Fmaison 05 mars 01.rtf");
}

class ClosingTest : public ::testing::Test {
  protected:
    TempDir dir;
    FakeInvoice invoice;
    Account account;
    Locale fr = Locale::french();

    ClosingTest() {
        invoice.template_ = {{"Facture Internet", {}}};
        invoice.paragraphs = {{"Facture Internet", {}}, {"\tline", {}}};
        account.periodCost = 12.3456f;
        account.periodDuration = msTIME::Hms(3, 4, 5, 0);
        account.packageDuration = msTIME::Hms(20, 0, 0, 0);
        account.packageRemaining = msTIME::Hms(7, 0, 0, 0);
        account.packageCharged = true;
        account.nextInvoice = EncodeDate(2001, 3, 5);
    }
    // As the first start of the day after the billing date closes it.
    void close() {
        ClosePeriod(account, "Maison", dir.str(), invoice, fr, account.nextInvoice + 1);
    }
    std::string archive(const std::string& date) {
        return dir.str() + "Factures/Maison " + date + ".rtf";
    }
};

TEST_F(ClosingTest, TwoTotalsInBoldWithoutAPackage) {
    close();
    EXPECT_EQ(ReadFile(archive("05 mars 01")),
              "Facture Internet\n\tline\n\n\nCoût total = 12,35\nDurée totale = 03:04:05");
    ASSERT_EQ(invoice.saves.size(), 1u);
    EXPECT_EQ(invoice.loads, std::vector<std::string>{dir.str() + "base.rtf"});
    EXPECT_EQ(invoice.text(), "Facture Internet");
}

TEST_F(ClosingTest, ThreeTotalsWithAPackageAndTheAccountReset) {
    account.packageEnabled = true;
    FakeInvoice copy = invoice;
    ArchiveInvoice(account, "Maison", dir.str(), copy, fr);
    ASSERT_EQ(copy.paragraphs.size(), 7u);  // two empty paragraphs before the cost
    EXPECT_EQ(copy.paragraphs[4].text, "Coût total = 12,35");
    EXPECT_EQ(copy.paragraphs[6].text, "Forfait restant = 07:00:00");
    for (std::size_t i = 2; i < 7; ++i) EXPECT_TRUE(copy.paragraphs[i].attributes.bold);
    EXPECT_FALSE(copy.paragraphs[1].attributes.bold);

    close();
    EXPECT_EQ(account.periodCost, 0.0f);
    EXPECT_EQ(account.periodDuration.totalMs, 0);
    EXPECT_EQ(account.packageRemaining.totalMs, account.packageDuration.totalMs);
    EXPECT_FALSE(account.packageCharged);
    EXPECT_EQ(Ymd(account.nextInvoice), "2001-4-5");
}

TEST_F(ClosingTest, PeriodLengthsMoveTheBillingDate) {
    account.periodMonths = 12;
    account.nextInvoice = EncodeDate(2001, 1, 31);
    close();
    EXPECT_EQ(Ymd(account.nextInvoice), "2002-1-31");
    account.periodMonths = 1;
    account.nextInvoice = EncodeDate(2001, 12, 15);
    close();
    EXPECT_EQ(Ymd(account.nextInvoice), "2002-1-15");
    account.nextInvoice = EncodeDate(2001, 1, 31);
    close();
    EXPECT_EQ(Ymd(account.nextInvoice), "2001-2-28");  // the month's last day
}

TEST_F(ClosingTest, ZeroMonthsReplacesTheArchiveOfTheSameName) {
    account.periodMonths = 0;
    close();
    invoice.appendParagraph("\tsecond");
    close();
    EXPECT_EQ(Ymd(account.nextInvoice), "2001-3-5");
    EXPECT_EQ(ReadFile(archive("05 mars 01")),
              "Facture Internet\n\tsecond\n\n\nCoût total = 0,00\nDurée totale = 00:00:00");
}

TEST_F(ClosingTest, AnArchiveThatCannotBeWrittenLeavesEverythingAsItWas) {
    CharAttributes italic;
    italic.italic = true;
    invoice.setAppendAttributes(italic);
    invoice.failSave = true;
    Account before = account;
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(close(), FileError);
        EXPECT_EQ(invoice.paragraphs.size(), 2u);
        EXPECT_EQ(invoice.appendAttributes(), italic);
        EXPECT_EQ(account.periodCost, before.periodCost);
        EXPECT_EQ(account.nextInvoice, before.nextInvoice);
        EXPECT_TRUE(account.packageCharged);
    }
    invoice.failSave = false;
    close();
    EXPECT_EQ(ReadFile(archive("05 mars 01")),
              "Facture Internet\n\tline\n\n\nCoût total = 12,35\nDurée totale = 03:04:05");
}

TEST_F(ClosingTest, AMissingTemplateStillResetsTheAccountAndEmptiesTheInvoice) {
    invoice.failLoad = true;
    EXPECT_THROW(close(), FileError);
    EXPECT_TRUE(std::filesystem::exists(archive("05 mars 01")));
    EXPECT_EQ(account.periodCost, 0.0f);
    EXPECT_EQ(Ymd(account.nextInvoice), "2001-4-5");
    EXPECT_EQ(invoice.paragraphs.size(), 0u);
}

// The running invoice as the window wires it: lines at every end, a closing at each start.
struct InvoicingHost : test::RecordingHost {
    FakeInvoice* invoice;
    std::string folder;
    void closePeriod(Account& a, const std::string& name, DateTime today) override {
        ClosePeriod(a, name, folder, *invoice, Locale::french(), today);
    }
    void addInvoiceLine(DateTime when, msTIME d, float amount) override {
        AddInvoiceLine(*invoice, when, d, amount, Locale::french());
    }
};

// A billing date far behind is filed once and caught up at once: no flood of archives.
TEST(CatchingUp, ADateFarBehindClosesOncePastToday) {
    TempDir dir;
    FakeInvoice invoice;
    invoice.template_ = {{"Facture", {}}};
    invoice.paragraphs = invoice.template_;
    test::FakeClock clock;  // 7 March 2001
    AccountCollection accounts;
    test::FakeConnectionName names;
    test::FakeCounters counters;
    Locale fr = Locale::french();
    Meter meter(clock, accounts, names, counters, fr);
    InvoicingHost host;
    host.invoice = &invoice;
    host.folder = dir.str();
    meter.setHost(&host);
    names.name = "Maison";
    Account& a = accounts.findOrCreate("Maison");
    a.nextInvoice = EncodeDate(2001, 1, 5);
    a.creditDuration = 0;
    a.pricePerSecond = 0.01f;
    auto connection = [&] {
        meter.Connect();
        clock.advance(1000);
        meter.TimerTick();
        clock.advance(1000);
        meter.TimerTick();
        meter.Disconnect();
    };
    for (int start = 0; start < 3; ++start) connection();
    auto archive = [&](const std::string& name) {
        return ReadFile(dir.str() + "Factures/" + name + ".rtf");
    };
    EXPECT_EQ(archive("Maison 05 janv. 01"),
              "Facture\n\n\nCoût total = 0,00\nDurée totale = 00:00:00");
    EXPECT_EQ(invoice.saves.size(), 1u);  // two periods behind, one closing
    EXPECT_EQ(Ymd(a.nextInvoice), "2001-4-5");
    EXPECT_EQ(invoice.text(),
              "Facture\n\t07 mars 01, 10:00:02\t00:00:01\t0,01\n"
              "\t07 mars 01, 10:00:04\t00:00:01\t0,01\n\t07 mars 01, 10:00:06\t00:00:01\t0,01");

    // Years behind, from a day the months of the catch-up lack: the day is kept, not worn down
    // to the 28th by the short months on the way.
    clock.local = {2027, 4, 5, 10, 0, 0, 0, 2};
    names.name = "Club Internet";
    Account& club = accounts.findOrCreate("Club Internet");
    club.nextInvoice = EncodeDate(2001, 1, 31);
    club.periodCost = 4.5f;
    connection();
    connection();
    EXPECT_EQ(invoice.saves.size(), 2u);
    // The running invoice is shared: the lines of every account since the last closing.
    EXPECT_EQ(archive("Club Internet 31 janv. 01"),
              "Facture\n\t07 mars 01, 10:00:02\t00:00:01\t0,01\n"
              "\t07 mars 01, 10:00:04\t00:00:01\t0,01\n\t07 mars 01, 10:00:06\t00:00:01\t0,01"
              "\n\n\nCoût total = 4,50\nDurée totale = 00:00:00");
    EXPECT_EQ(Ymd(club.nextInvoice), "2027-4-30");

    // A new account, its date never set: one archive, then a period from today.
    names.name = "Wanadoo";
    connection();
    connection();
    EXPECT_EQ(invoice.saves.size(), 3u);
    EXPECT_TRUE(std::filesystem::exists(dir.str() + "Factures/Wanadoo 30 déc. 99.rtf"));
    EXPECT_EQ(Ymd(accounts.find("Wanadoo")->nextInvoice), "2027-5-4");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.str() + "Factures"),
                            std::filesystem::directory_iterator()),
              3);
}

}  // namespace
