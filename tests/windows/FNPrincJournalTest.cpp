#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <tuple>

#include "controls/ErrorReport.h"
#include "invoices/Invoices.h"
#include "platform/JournalSqlite.h"
#include "richtext/InvoiceHistory.h"
#include "tests/common/Fakes.h"
#include "tests/common/qt/FakeTrayShell.h"
#include "tests/common/qt/InvoiceFiles.h"
#include "windows/FNPrinc.h"

using namespace tallimer;
using namespace tallimer::test;

namespace {

// The window keeps the journal: an existing user's invoices are its first rows, once; each
// connection is a row, opened, refreshed each minute and closed, cut short by the end.
TEST(MainWindowJournal, ImportsTheInvoicesOnceThenKeepsEveryConnection) {
    TempDir dir;
    FakeClock clock;
    FakeConnectionName names;
    names.name = "Modem";
    FakeCounters counters;
    FakeTrayShell tray;
    const Locale fr = Locale::french();
    std::filesystem::create_directory(dir.path() / "Factures");
    WriteInvoice(ArchivePath(dir.str(), "Ancien fai", EncodeDate(2001, 2, 5), fr),
                 {"Facture", InvoiceLineText(EncodeDate(2001, 1, 20) + 0.5, 60000, 0.6f, fr), "",
                  "Coût total = 0,60"});
    WriteInvoice(dir.str() + "temp.rtf",
                 {"Facture", InvoiceLineText(EncodeDate(2001, 3, 6) + 0.75, 120000, 1.2f, fr),
                  InvoiceLineText(EncodeDate(2001, 3, 6) + 0.8, 0, 15.0f, fr)});

    const PrincDependencies d{dir.str(), &clock,
                              &names,    &counters,
                              &tray,     [] { return std::vector<std::string>{"127.0.0.1"}; }};
    auto window = std::make_unique<TfPrinc>(d);
    window->OnlineIP1->SetEnabled(false);
    ASSERT_NE(window->journal(), nullptr);
    while (window->importingHistory()) QCoreApplication::processEvents();
    auto rows = window->journal()->query({});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].account, "Ancien fai");
    EXPECT_EQ(rows[0].startLocal, "2001-01-20T11:59:00");
    EXPECT_EQ(rows[1].account, "Modem");  // the running invoice's, the default connection's
    EXPECT_EQ(rows[1].startLocal, "2001-03-06T17:58:00");
    EXPECT_EQ(rows[1].cost, 1.2f);
    EXPECT_EQ(rows[2].durationMs, 0);
    EXPECT_EQ(rows[2].cost, 0.0f);  // a fee line: its amount is in the connection's line too
    EXPECT_EQ(rows[2].packageFee, 15.0f);

    auto tick = [&](int ms) {
        clock.advance(ms);
        window->meter().TimerTick();
    };
    window->bnGo->trigger();
    tick(1000);
    tick(30000);
    window->SaveTimerTimer();
    rows = window->journal()->query({"Modem", "2001-03-07T00:00:00", ""});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].durationMs, 30000);
    EXPECT_EQ(rows[0].end, JournalEnd::Open);
    tick(5000);
    window->bnGo->trigger();
    window->bnGo->trigger();
    tick(1000);
    tick(2000);
    window->Quitter1->trigger();
    rows = window->journal()->query({"Modem", "2001-03-07T00:00:00", ""});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].durationMs, 35000);
    EXPECT_EQ(rows[0].end, JournalEnd::Normal);
    EXPECT_EQ(rows[1].durationMs, 2000);
    EXPECT_EQ(rows[1].end, JournalEnd::CutShort);

    // The next start finds its journal: nothing is imported again.
    window.reset();
    window = std::make_unique<TfPrinc>(d);
    EXPECT_EQ(window->journal()->query({}).size(), 5u);
}

// A first start stopped in the middle of the history's import: the next start takes in the
// rest, and the journal then holds each line once, as an import without a stop gives it.
TEST(MainWindowJournal, AHistoryImportStoppedHalfWayIsFinishedOnceAtTheNextStart) {
    TempDir stopped, whole;
    const Locale fr = Locale::french();
    std::vector<std::string> lines{"Facture"};
    for (int i = 0; i < 4500; ++i)
        lines.push_back(InvoiceLineText(EncodeDate(2001, 3, 6) + i / 1440.0, 60000, 0.6f, fr));
    lines.push_back(lines[1]);      // two identical lines are two rows
    lines.push_back("\t1 234,50");  // typed by hand
    for (const TempDir* dir : {&stopped, &whole}) {
        std::filesystem::create_directory(dir->path() / "Factures");
        WriteInvoice(ArchivePath(dir->str(), "Ancien fai", EncodeDate(2001, 2, 5), fr),
                     {"Facture", InvoiceLineText(EncodeDate(2001, 1, 20) + 0.5, 60000, 0.6f, fr)});
        // The unnamed account's archive is an archive, not the running invoice.
        WriteInvoice(ArchivePath(dir->str(), "", EncodeDate(2001, 2, 6), fr),
                     {"Facture", InvoiceLineText(EncodeDate(2001, 1, 21) + 0.5, 60000, 0.6f, fr)});
        WriteInvoice(dir->str() + "temp.rtf", lines);
    }
    const AccountCollection accounts;
    const DateTime today = EncodeDate(2001, 3, 9);
    auto rowsOf = [](const TempDir& dir) {
        std::vector<std::tuple<std::string, std::string, std::int64_t, float>> out;
        for (const JournalRow& r : SqliteJournal(dir.str() + "journal.sqlite").query({}))
            out.emplace_back(r.account, r.startLocal, r.durationMs, r.cost);
        return out;
    };
    SqliteJournal once(whole.str() + "journal.sqlite");
    const ImportResult all = ImportInvoiceHistory(once, whole.str(), accounts, "Modem", today);
    EXPECT_EQ(all.added, 2 + 4500 + 1u);
    EXPECT_EQ(once.query({std::string(), {}, {}}).size(), 1u);
    EXPECT_EQ(all.unrecognised, 1u);
    {
        SqliteJournal journal(stopped.str() + "journal.sqlite");
        ASSERT_TRUE(journal.historyPending());
        HistoryImport import(journal, stopped.str(), accounts, "Modem", today);
        while (journal.query({}).size() < 2000) ASSERT_FALSE(import.step(QDeadlineTimer(0)));
    }
    {
        SqliteJournal journal(stopped.str() + "journal.sqlite");
        ASSERT_TRUE(journal.historyPending());
        HistoryImport import(journal, stopped.str(), accounts, "Modem", today);
        ASSERT_TRUE(import.step(QDeadlineTimer(QDeadlineTimer::Forever)));
        EXPECT_EQ(import.result().unrecognised, 1u);
    }
    EXPECT_FALSE(SqliteJournal(stopped.str() + "journal.sqlite").historyPending());
    EXPECT_EQ(rowsOf(stopped), rowsOf(whole));
}

// The journal is off the way to the shown window: it opens once the window has been shown,
// or at its first use if that comes sooner, and everything a start did to it is done then,
// in the same order: rows a dead program left open are cut short before the new one opens,
// and a damaged journal is set aside and said so.
TEST(MainWindowJournal, OpensAfterTheWindowIsShownOrAtItsFirstUse) {
    TempDir dir;
    FakeClock clock;
    FakeConnectionName names;
    names.name = "Modem";
    FakeCounters counters;
    FakeTrayShell tray;
    const PrincDependencies d{dir.str(), &clock,
                              &names,    &counters,
                              &tray,     [] { return std::vector<std::string>{"127.0.0.1"}; }};
    const std::string path = dir.str() + "journal.sqlite";
    {
        SqliteJournal dead(path);
        JournalRow left;
        left.account = "Modem";
        left.startLocal = "2001-03-06T20:00:00";
        left.durationMs = 60000;
        ASSERT_NE(dead.open(left), 0);
    }
    const std::string before = ReadFile(path);
    {
        auto window = std::make_unique<TfPrinc>(d);
        window->OnlineIP1->SetEnabled(false);
        EXPECT_EQ(ReadFile(path), before);
        EXPECT_FALSE(std::filesystem::exists(path + "-wal"));  // not opened yet
        window->bnGo->trigger();
        SqliteJournal after(path);
        auto rows = after.query({});
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].end, JournalEnd::CutShort);
        EXPECT_EQ(rows[1].end, JournalEnd::Open);
    }

    std::filesystem::remove(path);
    const std::string garbage = "SQLite format 3" + std::string(4000, '\x5a');
    WriteFile(path, garbage);
    std::vector<std::string> reports;
    auto previous = SetErrorReportHandler(
        [&](QObject*, const std::exception& e) { reports.push_back(e.what()); });
    auto window = std::make_unique<TfPrinc>(d);
    window->OnlineIP1->SetEnabled(false);
    EXPECT_EQ(ReadFile(path), garbage);
    window->Timer2Timer();  // the window hides into the notification area
    QCoreApplication::processEvents();
    EXPECT_EQ(ReadFile(dir.path() / "journal illisible.sqlite"), garbage);
    EXPECT_EQ(reports, (std::vector<std::string>{
                           "Le journal des connexions «\u00A0journal.sqlite\u00A0» était "
                           "illisible\u00A0: il a été mis de côté sous «\u00A0journal "
                           "illisible.sqlite\u00A0» et un nouveau journal a été commencé."}));
    ASSERT_NE(window->journal(), nullptr);
    EXPECT_TRUE(window->journal()->query({}).empty());
    SetErrorReportHandler(previous);
}

}  // namespace
