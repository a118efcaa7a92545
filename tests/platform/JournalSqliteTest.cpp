#include "platform/JournalSqlite.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <QProcess>
#include <filesystem>
#include <map>

#include "metering/JournalKeeper.h"
#include "metering/JournalStats.h"
#include "tests/common/Fakes.h"
#include "tests/common/GeneratedRows.h"

using namespace tallimer;
using tallimer::test::BuildDir;
using tallimer::test::ReadFile;
using tallimer::test::TempDir;
using tallimer::test::WriteFile;

using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

JournalRow SampleRow() {
    JournalRow r;
    r.account = "Mon fai";
    r.startLocal = "2001-03-07T19:58:50";
    r.startUtc = "2001-03-07T18:58:50Z";
    r.durationMs = 149000;
    r.cost = 16.195f;
    r.normalMs = 5000;
    r.reducedMs = 81000;
    r.packageMs = 3000;
    r.creditMs = 60000;
    r.packageFee = 15.0f;
    r.address = "192.0.2.7";
    r.bytesReceived = 0xFFFFFFFFFFull * 3;  // past 2^63 would be just as kept
    r.bytesSent = 18446744073709551615ull;
    r.volumeBytes = 3000000001;
    r.volumeCost = 4.25f;
    return r;
}

// Every figure comes back as written after a restart; rows a dead program left open are cut
// short at their last refresh; imported rows are not added twice.
TEST(SqliteJournalTest, RowsComeBackWholeAfterARestart) {
    TempDir dir;
    const std::string path = dir.str() + "journal.sqlite";
    JournalRow closed = SampleRow();
    {
        SqliteJournal journal(path);
        EXPECT_TRUE(journal.created());
        closed.id = journal.open(closed);
        ASSERT_NE(closed.id, 0);
        closed.endLocal = "2001-03-07T20:01:20";
        closed.endUtc = "2001-03-07T19:01:20Z";
        closed.end = JournalEnd::Normal;
        journal.close(closed);
        JournalRow open = SampleRow();
        open.account = "Autre";
        open.startLocal = "2001-03-08T08:00:00";
        open.id = journal.open(open);
        open.durationMs = 60000;
        journal.refresh(open);
        EXPECT_EQ(journal.takeError(), "");
    }
    SqliteJournal journal(path);
    EXPECT_FALSE(journal.created());
    journal.markOpenRowsCutShort();
    auto rows = journal.query({});
    ASSERT_EQ(rows.size(), 2u);
    const JournalRow& r = rows[0];
    EXPECT_EQ(r.id, closed.id);
    EXPECT_EQ(r.account, closed.account);
    EXPECT_EQ(r.startLocal, closed.startLocal);
    EXPECT_EQ(r.startUtc, closed.startUtc);
    EXPECT_EQ(r.endLocal, closed.endLocal);
    EXPECT_EQ(r.endUtc, closed.endUtc);
    EXPECT_EQ(r.durationMs, closed.durationMs);
    EXPECT_EQ(r.cost, closed.cost);
    EXPECT_EQ(r.normalMs, closed.normalMs);
    EXPECT_EQ(r.reducedMs, closed.reducedMs);
    EXPECT_EQ(r.packageMs, closed.packageMs);
    EXPECT_EQ(r.creditMs, closed.creditMs);
    EXPECT_EQ(r.packageFee, closed.packageFee);
    EXPECT_EQ(r.address, closed.address);
    EXPECT_EQ(r.bytesReceived, closed.bytesReceived);
    EXPECT_EQ(r.bytesSent, closed.bytesSent);
    EXPECT_EQ(r.volumeBytes, closed.volumeBytes);
    EXPECT_EQ(r.volumeCost, closed.volumeCost);
    EXPECT_EQ(r.end, JournalEnd::Normal);
    EXPECT_EQ(r.origin, JournalOrigin::Metered);
    EXPECT_EQ(rows[1].durationMs, 60000);
    EXPECT_EQ(rows[1].end, JournalEnd::CutShort);
    // It ends where its last refresh left it, as the recovered invoice line does.
    EXPECT_EQ(rows[1].endLocal, "2001-03-08T08:01:00");

    auto one = journal.query({"Autre", "2001-03-08T00:00:00", "2001-03-09T00:00:00"});
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].account, "Autre");
    EXPECT_TRUE(journal.query({"Autre", "", "2001-03-08T08:00:00"}).empty());
    // The unnamed account is an account of its own, not every account.
    EXPECT_TRUE(journal.query({"", "", ""}).empty());

    JournalRow imported = SampleRow();
    imported.origin = JournalOrigin::Imported;
    imported.startLocal = "2000-01-01T10:00:00";
    JournalRow same = closed;  // already there
    same.origin = JournalOrigin::Imported;
    // Two identical invoice lines are two connections, once.
    EXPECT_EQ(journal.importRows({imported, same, imported}), 2u);
    EXPECT_EQ(journal.importRows({imported, same, imported}), 0u);
    EXPECT_EQ(journal.query({}).size(), 4u);
    EXPECT_EQ(journal.takeError(), "");
}

// A real program killed during a connection: its row is there, at most a minute behind.
TEST(SqliteJournalTest, AKilledProgramLeavesItsRowAtMostAMinuteBehind) {
    TempDir dir;
    const std::string path = dir.str() + "journal.sqlite";
    QProcess writer;
    writer.start(QString::fromStdString((BuildDir() / "tests" / "journal_writer").string()),
                 {QString::fromStdString(path), "150"});
    ASSERT_TRUE(writer.waitForStarted(10000));
    QByteArray said;
    while (!said.contains('\n') && writer.waitForReadyRead(30000)) said += writer.readAll();
    ASSERT_TRUE(said.startsWith("ready 149000")) << said.toStdString();
    // The command line's reader, while the program holds the journal in WAL mode and after
    // it was killed, sees the row kept in the log and leaves every byte of the folder as it
    // was: no side file made, none truncated.
    auto folder = [&] {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(dir.path()))
            files[e.path().filename().string()] = ReadFile(e.path());
        return files;
    };
    auto newest = [&] { return ReadNewestRows(path, {"Maison"}, 4)["Maison"]; };
    for (bool killed : {false, true}) {
        if (killed) {
            writer.kill();  // SIGKILL: nothing of the program's own runs
            ASSERT_TRUE(writer.waitForFinished(10000));
            EXPECT_EQ(writer.exitStatus(), QProcess::CrashExit);
            fs::remove(path + "-shm");
        }
        const auto before = folder();
        ASSERT_TRUE(before.count("journal.sqlite-wal"));
        ASSERT_EQ(newest().size(), 1u);
        EXPECT_EQ(newest()[0].durationMs, 119000);
        EXPECT_EQ(folder(), before);
    }
    // A save caught half written (its last page's bytes not there yet) is not read: the
    // reader sees the save before it.
    {
        const std::string torn = dir.str() + "torn/journal.sqlite";
        fs::create_directory(dir.path() / "torn");
        std::string wal = ReadFile(path + "-wal");
        auto big32 = [&](std::size_t at) {
            std::uint32_t v = 0;
            for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(wal[at + i]);
            return v;
        };
        const std::size_t frame = 24 + big32(8);
        std::size_t lastCommit = 0;
        for (std::size_t at = 32; at + frame <= wal.size(); at += frame)
            if (big32(at + 4) != 0) lastCommit = at;
        ASSERT_NE(lastCommit, 0u);
        std::fill_n(wal.begin() + static_cast<std::ptrdiff_t>(lastCommit + 24), frame - 24, '\0');
        WriteFile(torn, ReadFile(path));
        WriteFile(torn + "-wal", wal);
        const auto rows = ReadNewestRows(torn, {"Maison"}, 4)["Maison"];
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_LT(rows[0].durationMs, 119000);
    }

    SqliteJournal journal(path);
    EXPECT_FALSE(journal.created());
    auto rows = journal.query({});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].end, JournalEnd::Open);
    EXPECT_EQ(rows[0].durationMs, 119000);  // the save of the second minute
    EXPECT_LE(149000 - rows[0].durationMs, 60000);
    EXPECT_EQ(rows[0].normalMs, 119000);
    EXPECT_GT(rows[0].cost, 0.0f);
    journal.markOpenRowsCutShort();
    rows = journal.query({"Maison", "", ""});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].end, JournalEnd::CutShort);
    EXPECT_EQ(journal.takeError(), "");
}

TEST(SqliteJournalTest, AnUnreadableJournalIsSetAsideAndANewOneStarted) {
    TempDir dir;
    const std::string path = dir.str() + "journal.sqlite";
    const std::string garbage = "SQLite format 3\0 but not really"s + std::string(5000, '\x5a');
    WriteFile(path, garbage);
    const std::string said =
        "Le journal des connexions «\u00A0journal.sqlite\u00A0» était illisible\u00A0: il a été "
        "mis de côté sous «\u00A0journal illisible.sqlite\u00A0» et un nouveau journal a été "
        "commencé.";
    {
        SqliteJournal journal(path);
        EXPECT_TRUE(journal.created());
        EXPECT_EQ(journal.takeError(), said);
        EXPECT_EQ(journal.takeError(), "");  // once
        EXPECT_NE(journal.open(SampleRow()), 0);
        EXPECT_EQ(journal.query({}).size(), 1u);
    }
    EXPECT_EQ(ReadFile(dir.path() / "journal illisible.sqlite"), garbage);

    // A second unreadable journal does not replace the first one set aside.
    WriteFile(path, "not a journal");
    SqliteJournal journal(path);
    EXPECT_EQ(journal.takeError(), said);
    EXPECT_TRUE(journal.query({}).empty());
    EXPECT_EQ(ReadFile(dir.path() / "journal illisible.sqlite"), garbage);
    EXPECT_EQ(ReadFile(dir.path() / "journal illisible 2.sqlite"), "not a journal");
}

// A journal from before the volume tariffs: the command line reads it as it is, without a
// byte written, its rows of no volume; the program's opening adds the volume and keeps them.
TEST(SqliteJournalTest, AJournalFromBeforeTheVolumeTariffsReadsAndIsExtendedOnOpening) {
    TempDir dir;
    const std::string path = dir.str() + "journal.sqlite";
    JournalRow before = SampleRow();
    before.volumeBytes = 0;
    before.volumeCost = 0;
    { EXPECT_NE(SqliteJournal(path).open(before), 0); }
    sqlite3* old = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &old), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(old,
                           "ALTER TABLE connections DROP COLUMN volume_bytes;"
                           "ALTER TABLE connections DROP COLUMN volume_cost; VACUUM",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(old);
    const std::string bytes = ReadFile(path);
    auto newest = ReadNewestRows(path, {"Mon fai"}, 4)["Mon fai"];
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_EQ(newest[0].durationMs, 149000);
    EXPECT_EQ(newest[0].volumeBytes, 0u);
    EXPECT_EQ(ReadFile(path), bytes);

    {
        SqliteJournal journal(path);
        EXPECT_FALSE(journal.created());
        EXPECT_NE(journal.open(SampleRow()), 0);
        EXPECT_EQ(journal.takeError(), "");
    }
    for (const auto& rows :
         {SqliteJournal(path).query({}), ReadNewestRows(path, {"Mon fai"}, 4)["Mon fai"]}) {
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].durationMs + rows[1].durationMs, 2 * 149000);
        EXPECT_EQ(rows[0].volumeBytes + rows[1].volumeBytes, SampleRow().volumeBytes);
        EXPECT_EQ(rows[0].volumeCost + rows[1].volumeCost, SampleRow().volumeCost);
    }
}

// Another program in a transaction of its own: the journal is waited for, not set aside, and
// the row is written once the other program is done.
TEST(SqliteJournalTest, ABusyJournalIsTriedAgainNeverSetAside) {
    TempDir dir;
    const std::string path = dir.str() + "journal.sqlite";
    { SqliteJournal first(path); }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    SqliteJournal journal(path);
    EXPECT_FALSE(journal.created());
    EXPECT_EQ(journal.open(SampleRow()), 0);
    EXPECT_FALSE(fs::exists(dir.path() / "journal illisible.sqlite"));
    EXPECT_NE(journal.takeError(), "");
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_NE(journal.open(SampleRow()), 0);
    EXPECT_EQ(journal.query({}).size(), 1u);
    EXPECT_EQ(journal.takeError(), "");
}

}  // namespace

// The statistics window reads only the figures of the rows: for each period it offers, they
// give the figures, to the last bit, and the list's export, to the byte, of the whole rows.
TEST(SqliteJournalTest, TheWindowsNarrowRowsGiveTheWholeRowsFigures) {
    TempDir dir;
    const DateTime today = EncodeDate(2001, 3, 2);
    std::vector<JournalRow> rows = test::GeneratedRows("Modem", 3000, today, 800);
    auto row = [&rows](const std::string& account, const std::string& start, float cost) {
        JournalRow r = rows[rows.size() / 2];
        r.account = account;
        r.startLocal = start;
        r.cost = cost;
        return &rows.emplace_back(r);
    };
    row("Modem", "2001-02-16T00:00:00", 1.5f)->origin = JournalOrigin::Imported;
    JournalRow* fee = row("Modem", "2001-02-16T00:00:00", 10);  // the same start, after
    fee->origin = JournalOrigin::Imported;
    fee->durationMs = 0;
    fee->packageFee = 10;
    JournalRow* open = row("Modem", "2001-03-02T11:00:00", 0.74f);
    open->end = JournalEnd::Open;
    open->endLocal.clear();
    row("Modem", "2001-03-01T20:00:00", 2)->end = JournalEnd::CutShort;
    row("Modem", "2001-03-01T21:00:00", 1e-30f)->endLocal = "2001-03-01T22:00";  // not ours
    row("Modem", "2001-03-25T02:30:00", 3)->packageMs = 60000;  // the hour clocks skip
    row("Modem", "2001-03-15T23:59:59", 4);
    for (const char* bad : {"02/03/2001 10:00", "2001-02-30T10:00:00", "2001-03-01T24:00:00"})
        row("Modem", bad, 100);
    row("", "2001-02-20T09:00:00", 0.5f);
    row("", "2001-02-20T09:00:00", 0.25f);
    row(kImportedHistory, "1999-12-31T23:00:00", 8)->origin = JournalOrigin::Imported;
    // Written out of order: the table's order is not the starts'.
    std::rotate(rows.begin(), rows.begin() + 1234, rows.end());
    SqliteJournal journal(dir.str() + "journal.sqlite");
    ASSERT_EQ(journal.importRows(rows), rows.size());

    Account account;
    account.nextInvoice = EncodeDate(2001, 3, 15);
    account.pricePerSecond = 0.0047f;
    account.offPeakPrice = 0.0025f;
    account.creditPrice = 0.74f;
    account.packageEnabled = true;
    account.packageRemaining = 3600000;
    for (const std::string& name : {"Modem"s, ""s, std::string(kImportedHistory)}) {
        const std::vector<JournalRow> whole = journal.query({name, {}, {}});
        const std::vector<StatsRow> narrow = journal.statsRows(name);
        const auto periods = StatsPeriods(account, whole, today);
        ASSERT_EQ(periods.size(), StatsPeriods(account, narrow, today).size());
        for (const StatsPeriod& period : periods) {
            SCOPED_TRACE(name + ", " + period.label);
            EXPECT_TRUE(ComputeStats(narrow, account, period, today + 0.5) ==
                        ComputeStats(whole, account, period, today + 0.5));
            std::vector<std::int64_t> keys;
            for (std::size_t i : RowsInPeriod(narrow, period)) keys.push_back(narrow[i].key);
            const std::vector<JournalRow> listed = journal.fullRows(name, keys);
            EXPECT_EQ(ExportCsv(listed), ExportCsv(RowsInPeriod(whole, period)));
            EXPECT_EQ(ExportJson(listed), ExportJson(RowsInPeriod(whole, period)));
        }
    }
    EXPECT_EQ(journal.takeError(), "");
}
