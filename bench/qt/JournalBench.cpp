// What the journal costs the program: the row's write when a connection starts and ends,
// and its refresh at the minute save, in a journal that already holds years of connections.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <memory>

#include "platform/JournalSqlite.h"

namespace {

using tallimer::JournalEnd;
using tallimer::JournalRow;
using tallimer::SqliteJournal;

JournalRow Row() {
    JournalRow r;
    r.account = "Mon fai";
    r.startLocal = "2001-03-07T19:58:50";
    r.startUtc = "2001-03-07T18:58:50Z";
    r.address = "192.0.2.7";
    return r;
}

struct FilledJournal {
    QTemporaryDir dir;
    std::unique_ptr<SqliteJournal> journal;
    explicit FilledJournal(int rows) {
        journal = std::make_unique<SqliteJournal>(dir.filePath("journal.sqlite").toStdString());
        std::vector<JournalRow> many(static_cast<std::size_t>(rows), Row());
        for (int i = 0; i < rows; ++i) {
            many[static_cast<std::size_t>(i)].startLocal = "2000-" + std::to_string(i);
            many[static_cast<std::size_t>(i)].end = JournalEnd::Normal;
        }
        journal->importRows(many);
    }
};

void BM_JournalConnectDisconnect(benchmark::State& state) {
    FilledJournal filled(static_cast<int>(state.range(0)));
    JournalRow row = Row();
    for (auto _ : state) {
        row.id = filled.journal->open(row);
        row.durationMs += 1000;
        row.end = JournalEnd::Normal;
        filled.journal->close(row);
        row.end = JournalEnd::Open;
    }
}
BENCHMARK(BM_JournalConnectDisconnect)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_JournalMinuteRefresh(benchmark::State& state) {
    FilledJournal filled(static_cast<int>(state.range(0)));
    JournalRow row = Row();
    row.id = filled.journal->open(row);
    for (auto _ : state) {
        row.durationMs += 60000;
        row.bytesReceived += 123456;
        filled.journal->refresh(row);
    }
}
BENCHMARK(BM_JournalMinuteRefresh)->Arg(100000)->Unit(benchmark::kMicrosecond);

// At the program's start: the file opened and checked.
void BM_JournalOpenAtStart(benchmark::State& state) {
    FilledJournal filled(static_cast<int>(state.range(0)));
    const std::string path = filled.dir.filePath("journal.sqlite").toStdString();
    filled.journal.reset();
    for (auto _ : state) {
        SqliteJournal journal(path);
        journal.markOpenRowsCutShort();
        benchmark::DoNotOptimize(journal.usable());
    }
}
BENCHMARK(BM_JournalOpenAtStart)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
