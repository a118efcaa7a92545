#include "metering/Session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "accounts/AccountFiles.h"
#include "invoices/Invoices.h"
#include "support/Errors.h"
#include "tests/common/FakeJournal.h"
#include "tests/common/Fakes.h"

using namespace tallimer;
using namespace tallimer::test;

namespace {

// The invoice manager: each call is logged by name; lines land in a fake running invoice.
class LoggingDesk : public InvoiceDesk {
  public:
    std::vector<std::string> calls;
    FakeInvoice invoice;
    bool failRunning = false;
    bool failClosing = false;
    OverallState recovered;

    bool saveRunning() override {
        calls.push_back("saveRunning");
        return !failRunning;
    }
    void addLine(DateTime when, msTIME duration, float amount, const std::string&) override {
        calls.push_back("addLine");
        AddInvoiceLine(invoice, when, duration, amount, Locale::french());
    }
    void closePeriod(Account&, const std::string&, DateTime) override {
        calls.push_back("closePeriod");
        if (failClosing) throw FileError::create("Factures/Modem.rtf");
    }
    void recordConnection(DateTime, msTIME, float, const std::string&, const Account&, TotalTime,
                          float) override {
        calls.push_back("recordConnection");
    }
    void endConnection(DateTime when, msTIME duration, float amount, const std::string&,
                       const Account&, TotalTime, float) override {
        calls.push_back("endConnection");
        AddInvoiceLine(invoice, when, duration, amount, Locale::french());
    }
    void accountsSaved() override { calls.push_back("accountsSaved"); }
    void recover(AccountCollection&, OverallState& state) override { state = recovered; }
};

// The window's part: reports and notices kept, work handed to `later` run when the test says.
class RecordingHost : public SessionHost {
  public:
    std::vector<std::string> reports, notices;
    std::vector<std::function<void()>> waiting;
    bool shows = true;  // false: no notification area and no daemon
    int refused = 0;
    void reportLater(const std::exception& e) override { reports.push_back(e.what()); }
    bool notify(const std::string& text) override {
        if (!shows) return ++refused, false;
        notices.push_back(text);
        return true;
    }
    void later(std::function<void()> work) override { waiting.push_back(std::move(work)); }
    int runWaiting() {
        int ran = 0;
        for (; !waiting.empty(); ++ran) {
            auto work = std::move(waiting.front());
            waiting.erase(waiting.begin());
            work();
        }
        return ran;
    }
};

// The invoices' history taken in a given number of slices.
class SlicedImport : public SlicedTask {
  public:
    explicit SlicedImport(int slices) : left_(slices) {}
    bool step(int) override { return --left_ <= 0; }
    std::string doneText() const override {
        return "Import de l'historique : 1 ligne non reconnue, ignorée.";
    }

  private:
    int left_;
};

class SessionTest : public ::testing::Test, protected MeteringGround {
  protected:
    Session& make() {
        SessionParts parts{
            dir.str(), &clock, &names, &counters, Locale::french(), [this](Session&) {
                ++journalOpenings;
                auto opened = std::make_unique<FakeJournal>();
                opened->rows = journalRows;
                journal = opened.get();
                return OpenedJournal{std::move(opened), std::move(historyImport)};
            }};
        session = std::make_unique<Session>(std::move(parts));
        session->setHost(&host);
        session->setInvoiceDesk(&desk);
        session->load(nullptr);
        return *session;
    }

    void tick(int ms) {
        clock.advance(ms);
        session->tick();
    }

    LoggingDesk desk;
    RecordingHost host;
    std::vector<JournalRow> journalRows;  // what the journal holds when it opens
    std::unique_ptr<SlicedTask> historyImport;
    int journalOpenings = 0;
    FakeJournal* journal = nullptr;
    std::unique_ptr<Session> session;
};

TEST_F(SessionTest, DisconnectAndEveryMinuteOfMeteringSaveTheFiles) {
    Session& s = make();
    const auto account = dir.path() / "Comptes" / "Modem.fai";
    s.connect("");
    tick(1000);
    tick(30000);
    s.minute("");
    EXPECT_EQ(ReadFile(account).substr(0, 7), "30000\r\n");
    EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf").substr(0, 7), "30000\r\n");

    tick(15000);
    s.disconnect();
    EXPECT_EQ(ReadFile(account).substr(0, 7), "45000\r\n");
    EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf").substr(0, 7), "45000\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / kVolumeFile));  // no volume tariff
}

TEST_F(SessionTest, EndingDuringAConnectionWritesItsLineBeforeSaving) {
    Session& s = make();
    s.connect("");
    tick(1000);
    tick(5000);
    desk.calls.clear();
    EXPECT_EQ(s.end(), "");
    ASSERT_EQ(desk.invoice.paragraphs.size(), 1u);
    EXPECT_NE(desk.invoice.paragraphs[0].text.find("\t00:00:05\t1,33"), std::string::npos)
        << desk.invoice.paragraphs[0].text;
    EXPECT_EQ(desk.calls,
              (std::vector<std::string>{"endConnection", "accountsSaved", "saveRunning"}));
    EXPECT_EQ(ReadFile(dir.path() / "Comptes" / "Modem.fai").substr(0, 6), "5000\r\n");

    // Off line, an end writes no line.
    desk.invoice.paragraphs.clear();
    EXPECT_EQ(make().end(), "");
    EXPECT_TRUE(desk.invoice.paragraphs.empty());
}

// A period that cannot be closed: the connection is metered all the same, its journal row
// opened and the files saved before the error is raised; each step tells who watches the state.
TEST_F(SessionTest, AFailedClosingIsRaisedAfterTheRowAndTheSaveAndEveryStepIsTold) {
    desk.failClosing = true;  // "Modem" is new: its billing date lies in the past
    Session& s = make();
    std::vector<SessionState> seen;
    s.setChangedListener([&](const auto&) { seen.push_back(s.state()); });
    EXPECT_THROW(s.connect("192.0.2.7"), FileError);
    EXPECT_TRUE(s.meter().metering());
    EXPECT_EQ(desk.calls,
              (std::vector<std::string>{"closePeriod", "recordConnection", "accountsSaved"}));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "Comptes" / "Modem.fai"));
    ASSERT_EQ(journal->rows.size(), 1u);
    EXPECT_EQ(journal->rows[0].address, "192.0.2.7");

    tick(1000);
    tick(2000);
    s.minute("192.0.2.7");  // saves, changes nothing
    s.disconnect();
    s.disconnect();  // not metering: nothing
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_TRUE(seen[0].online);
    EXPECT_EQ(seen[0].account, "Modem");
    EXPECT_EQ(seen[2].connectionMs, 2000);
    EXPECT_FALSE(seen[3].online);
    EXPECT_EQ(seen[3].overallMs, 2000);
    EXPECT_EQ(journal->rows[0].end, JournalEnd::Normal);

    // What a crash left behind comes back through the desk, and is told too.
    desk.recovered.overallDuration = 7000;
    desk.recovered.overallCost = 2.5f;
    s.recover();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[4].overallMs, 7000);
    EXPECT_EQ(seen[4].overallCost, 2.5f);
}

// A package fee charged during the connection is a line of its own; the connection's line
// ends its record. An exit whose running invoice cannot be written says which file, and the
// accounts are written all the same.
TEST_F(SessionTest, TheFeeIsALineTheEndClosesTheRecordAndAFailedExitSaysWhichFile) {
    Account modem;
    modem.packageEnabled = true;
    modem.packageType = 0;
    modem.packagePrice = 15;
    modem.packageRemaining = 3600000;
    writeAccount("Modem", modem);
    Session& s = make();
    s.connect("");
    tick(1000);
    tick(4000);
    s.disconnect();
    EXPECT_EQ(desk.calls, (std::vector<std::string>{"recordConnection", "accountsSaved", "addLine",
                                                    "endConnection", "accountsSaved"}));
    EXPECT_EQ(desk.invoice.text(),
              "\t07 mars 01, 10:00:01\t00:00:00\t15,00\n"
              "\t07 mars 01, 10:00:05\t00:00:04\t15,00");

    desk.failRunning = true;
    EXPECT_EQ(s.end(), "Impossible de créer le fichier " + dir.str() + "temp.rtf");
    EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf").substr(0, 6), "4000\r\n");
    EXPECT_TRUE(host.reports.empty());
}

// A budget crossed by a connection is said once, at its end, and remembered: neither the
// next save nor a restart says it again. Said only when something showed it.
TEST_F(SessionTest, ABudgetCrossedIsSaidOnceAndNotAgainAfterARestart) {
    writeAccount("Modem", Account{});
    AlertSettings alerts;
    alerts["Modem"].budget = 1.5f;  // the default tariff: 1,33 in 5 s
    ASSERT_TRUE(SaveAlertSettings(dir.str() + kAlertSettingsFile, alerts));
    Session& first = make();
    first.connect("");
    tick(1000);
    tick(5000);
    EXPECT_TRUE(host.notices.empty());
    host.shows = false;  // neither a notification area nor a daemon
    first.disconnect();
    EXPECT_EQ(host.refused, 1);
    host.shows = true;
    Session& s = make();
    s.connect("");
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_NE(host.notices[0].find("80\u00A0%"), std::string::npos) << host.notices[0];
    EXPECT_TRUE(s.saveFiles());
    s.connect("");
    s.disconnect();

    Session& again = make();
    again.connect("");
    again.disconnect();
    EXPECT_EQ(host.notices.size(), 1u);
}

// A volume account's bytes are billed past its cap, reach its file with the accounts and are
// there after a restart; each threshold of the cap is said once, and not again after it.
TEST_F(SessionTest, AVolumeAccountIsBilledSavedAndWarnedOnceAcrossARestart) {
    Account modem;
    modem.nextInvoice = LocalToday(clock) + 10;
    WriteFile(dir.path() / "Comptes" / "Modem.fai", WriteAccount(modem));
    {
        VolumeBook book;
        VolumeTariff tariff;
        tariff.capBytes = kMo;
        tariff.pricePerMoBeyond = 2;
        SetVolumeTariff(book, "Modem", modem, tariff);
        ASSERT_TRUE(SaveVolumeBook(dir.str() + kVolumeFile, book));
    }
    counters.value = LinkCounters{0, 0};
    Session& s = make();
    s.connect("");
    tick(1000);
    counters.value = LinkCounters{900000, 0};
    tick(1000);
    // Both due at the same second, said at that second in one notification: a tray showing
    // one balloon at a time loses neither.
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0].find("80\u00A0% du volume inclus de la période\u00A0: 900 ko"), 0u)
        << host.notices[0];
    EXPECT_NE(host.notices[0].find("\nVolume du jour au-delà de la part du jour"),
              std::string::npos);
    s.minute("");
    EXPECT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(journal->rows.back().volumeBytes, 900000u);
    // Nothing could show the cap reached: it is said at the next chance, not marked unsaid.
    host.shows = false;
    counters.value = LinkCounters{1100000, 0};
    tick(1000);
    EXPECT_EQ(host.refused, 1);
    tick(1000);
    EXPECT_EQ(host.refused, 1);  // not asked again each second
    EXPECT_EQ(s.volumeMeter().connectionCost(), 0.2f);
    host.shows = true;
    s.disconnect();
    ASSERT_EQ(host.notices.size(), 2u);
    EXPECT_EQ(host.notices[1].find("Volume inclus de la période atteint"), 0u);
    // The journal's row says what the invoice line's amount holds of the volume.
    EXPECT_EQ(journal->rows.back().volumeBytes, 1100000u);
    EXPECT_EQ(journal->rows.back().volumeCost, s.volumeMeter().connectionCost());

    Session& again = make();
    EXPECT_EQ(again.volumes()["Modem"].periodBytes, 1100000u);
    again.connect("");
    again.disconnect();
    EXPECT_EQ(host.notices.size(), 2u);
    EXPECT_EQ(journal->rows.back().volumeBytes, 0u);
}

// The journal waits for its first use; then rows a dead program left open are cut short, and
// the invoices' history goes in by slices between events, said once done.
TEST_F(SessionTest, TheJournalOpensAtItsFirstUseAndTheHistoryGoesInBetweenEvents) {
    JournalRow left;
    left.account = "Modem";
    journalRows = {left};
    historyImport = std::make_unique<SlicedImport>(3);
    Session& s = make();
    EXPECT_EQ(journalOpenings, 0);
    s.connect("192.0.2.7");
    EXPECT_EQ(journalOpenings, 1);
    ASSERT_EQ(journal->rows.size(), 2u);
    EXPECT_EQ(journal->rows[0].end, JournalEnd::CutShort);
    EXPECT_EQ(journal->rows[1].end, JournalEnd::Open);

    EXPECT_TRUE(s.importingHistory());
    EXPECT_EQ(host.runWaiting(), 3);
    EXPECT_FALSE(s.importingHistory());
    EXPECT_EQ(host.notices,
              std::vector<std::string>{"Import de l'historique : 1 ligne non reconnue, ignorée."});
    s.disconnect();
    EXPECT_EQ(journalOpenings, 1);
}

}  // namespace
