// The statistics window as the user waits for it: from Ctrl+T to its first painted frame, the
// module's load (at the first opening), the journal's query and the first paint included,
// over a journal file of 100 and of 100,001 rows.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "bench/qt/Resident.h"
#include "platform/JournalSqlite.h"
#include "shell/StatsModuleLoader.h"
#include "tests/common/GeneratedRows.h"
#include "windows/FNStats.h"

using namespace tallimer;

namespace {

// Ends the loop once the first frame of a window other than the main one is painted.
class FirstFrame : public QObject {
  public:
    FirstFrame(QWidget* main, QEventLoop& loop) : main_(main), loop_(loop) {
        qApp->installEventFilter(this);
    }
    ~FirstFrame() override { qApp->removeEventFilter(this); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Paint && !seen_ && widget && widget->window() != main_) {
            seen_ = true;
            QTimer::singleShot(0, &loop_, &QEventLoop::quit);  // once the frame is flushed
        }
        return false;
    }

  private:
    QWidget* main_;
    QEventLoop& loop_;
    bool seen_ = false;
};

// A time account; with `volume`, one billed by volume too, whose figures and two more charts
// the window shows.
void OpenStatsWindow(benchmark::State& state, bool volume) {
    QTemporaryDir dir;
    const DateTime today = EncodeDate(2001, 3, 2);
    {
        SqliteJournal filling(dir.filePath("journal.sqlite").toStdString());
        filling.importRows(
            test::GeneratedRows("Modem", static_cast<std::size_t>(state.range(0)), today));
    }
    AccountCollection accounts;
    accounts.findOrCreate("Modem").nextInvoice = EncodeDate(2001, 3, 15);
    AlertSettings alerts;
    VolumeBook volumes;
    if (volume) {
        VolumeAccount& v = SetVolumeTariff(volumes, "Modem", *accounts.find("Modem"),
                                           {20000 * kMo, 0.05f, 0, true, true});
        v.periodBytes = 12000 * kMo;
        v.freeBytes = 3000 * kMo;
    }
    // Loaded once per process, as in the program: the first round pays for it.
    const StatsFactory factory = LoadedStats(
        StatsModulePaths(QCoreApplication::applicationDirPath().toStdString() + "/../app/"));
    QWidget main;
    double first = 0;
    for (auto _ : state) {
        state.PauseTiming();
        SqliteJournal journal(dir.filePath("journal.sqlite").toStdString());
        QEventLoop loop;
        FirstFrame frame(&main, loop);
        QElapsedTimer clock;
        state.ResumeTiming();
        clock.start();
        QString why;
        StatsView* view = factory(&main, why);
        if (!view) {
            state.SkipWithError(why.toStdString().c_str());
            break;
        }
        view->SetAlertSettings(&alerts, [] { return true; });
        view->SetVolumeBook(
            &volumes, [] { return true; }, nullptr);
        view->Prepare(&journal, accounts, "Modem", today + 0.5, Locale::french());
        view->Open();
        loop.exec();
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds);
        if (first == 0) first = seconds * 1000;
        state.PauseTiming();
        delete dynamic_cast<QWidget*>(view);
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["first_ms"] = first;
}

void BM_OpenStatsWindow(benchmark::State& state) {
    OpenStatsWindow(state, false);
}
BENCHMARK(BM_OpenStatsWindow)
    ->Arg(100)
    ->Arg(100001)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_OpenStatsWindowVolume(benchmark::State& state) {
    OpenStatsWindow(state, true);
}
BENCHMARK(BM_OpenStatsWindowVolume)
    ->Arg(100001)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// The window's query alone: every row of the account, as the window reads them today.
void BM_StatsQuery(benchmark::State& state) {
    QTemporaryDir dir;
    const DateTime today = EncodeDate(2001, 3, 2);
    SqliteJournal journal(dir.filePath("journal.sqlite").toStdString());
    journal.importRows(
        test::GeneratedRows("Modem", static_cast<std::size_t>(state.range(0)), today));
    for (auto _ : state) benchmark::DoNotOptimize(journal.query({"Modem", {}, {}}).size());
}
BENCHMARK(BM_StatsQuery)->Arg(100)->Arg(100001)->Unit(benchmark::kMillisecond);

// What the window reads now: the rows' figures without their other texts, and the figures
// of the current billing period computed from them.
void BM_StatsRows(benchmark::State& state) {
    QTemporaryDir dir;
    const DateTime today = EncodeDate(2001, 3, 2);
    SqliteJournal journal(dir.filePath("journal.sqlite").toStdString());
    journal.importRows(
        test::GeneratedRows("Modem", static_cast<std::size_t>(state.range(0)), today));
    Account account;
    account.nextInvoice = EncodeDate(2001, 3, 15);
    for (auto _ : state) {
        const std::vector<StatsRow> rows = journal.statsRows("Modem");
        benchmark::DoNotOptimize(
            ComputeStats(rows, account, BillingPeriod(account, 0, today), today + 0.5));
    }
}
BENCHMARK(BM_StatsRows)->Arg(100)->Arg(100001)->Unit(benchmark::kMillisecond);

// The period « Tout » chosen in the open window, to its next painted frame; and the peak
// resident memory of the whole process, window and journal, to set beside a small journal's
// (run each size in a process of its own: the peak is the process's).
void BM_StatsAll(benchmark::State& state) {
    QTemporaryDir dir;
    const DateTime today = EncodeDate(2001, 3, 2);
    {
        SqliteJournal filling(dir.filePath("journal.sqlite").toStdString());
        filling.importRows(
            test::GeneratedRows("Modem", static_cast<std::size_t>(state.range(0)), today));
    }
    AccountCollection accounts;
    accounts.findOrCreate("Modem").nextInvoice = EncodeDate(2001, 3, 15);
    const StatsFactory factory = LoadedStats(
        StatsModulePaths(QCoreApplication::applicationDirPath().toStdString() + "/../app/"));
    QWidget main;
    for (auto _ : state) {
        state.PauseTiming();
        SqliteJournal journal(dir.filePath("journal.sqlite").toStdString());
        QString why;
        auto* view = dynamic_cast<TfStats*>(factory(&main, why));
        if (!view) {
            state.SkipWithError(why.toStdString().c_str());
            break;
        }
        {
            QEventLoop loop;
            FirstFrame frame(&main, loop);
            view->Prepare(&journal, accounts, "Modem", today + 0.5, Locale::french());
            view->Open();
            loop.exec();
        }
        QEventLoop loop;
        FirstFrame frame(&main, loop);
        state.ResumeTiming();
        view->cbPeriode->setCurrentIndex(view->cbPeriode->count() - 1);
        view->update();
        loop.exec();
        state.PauseTiming();
        delete view;
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["peak_MiB"] = ResidentMiB("VmHWM");
}
BENCHMARK(BM_StatsAll)->Arg(100)->Arg(100001)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
