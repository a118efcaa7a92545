// Opening the statistics window on a large journal, up to the first chart drawn.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QChartView>

#include "tests/common/GeneratedRows.h"
#include "windows/FNStats.h"

using namespace tallimer;

namespace {

// The rows as a store hands them out: a fresh copy at each query.
class MemoryJournal : public ConnectionJournal {
  public:
    std::vector<JournalRow> rows;
    std::int64_t open(const JournalRow&) override { return 0; }
    void refresh(const JournalRow&) override {}
    void close(const JournalRow&) override {}
    void markOpenRowsCutShort() override {}
    std::vector<JournalRow> query(const JournalQuery&) override { return rows; }
    std::size_t importRows(const std::vector<JournalRow>&) override { return 0; }
    std::string takeError() override { return {}; }
};

void BM_OpenStatsWindow(benchmark::State& state) {
    MemoryJournal journal;
    DateTime today = EncodeDate(2001, 3, 2);
    journal.rows = test::GeneratedRows("Modem", static_cast<std::size_t>(state.range(0)), today);
    AccountCollection accounts;
    accounts.findOrCreate("Modem").nextInvoice = EncodeDate(2001, 3, 15);
    for (auto _ : state) {
        TfStats window;
        window.Prepare(&journal, accounts, "Modem", today + 0.5, Locale::french());
        window.show();
        QImage first = window.chJours->grab().toImage();
        benchmark::DoNotOptimize(first.constBits());
        state.PauseTiming();
        window.close();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenStatsWindow)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
