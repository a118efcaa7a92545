// The running invoice as the user waits for it: the invoice manager's first opening up to its
// first painted frame, a period closing, one line added at a disconnect, file writes
// included, and the first start's import of the invoice history into a new journal, over a
// kept temp.rtf of 100 and of 100,000 lines.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "accounts/Comptes.h"
#include "bench/qt/Resident.h"
#include "platform/JournalSqlite.h"
#include "richtext/InvoiceHistory.h"
#include "richtext/RichInvoice.h"
#include "richtext/RtfWriter.h"
#include "support/Date.h"
#include "windows/FNFacture.h"

namespace {

const std::string kLine = "\t05 mars 01, 21:07:44\t01:02:09\t12,35";

// The template as the build installs it beside the program.
std::string TemplatePath() {
    return QCoreApplication::applicationDirPath().toStdString() + "/../app/base.rtf";
}

// A data folder with the template and a running invoice of the given number of lines.
struct Folder {
    QTemporaryDir dir;
    std::string path = dir.path().toStdString() + "/";

    explicit Folder(int lines) {
        QTextDocument doc;
        doc.setUndoRedoEnabled(false);
        tallimer::RichInvoice invoice(&doc);
        invoice.loadRtf(TemplatePath());
        for (int i = 0; i < lines; ++i) invoice.appendParagraph(kLine);
        const QByteArray rtf = tallimer::WriteRtf(doc);
        std::ofstream(path + "temp.rtf", std::ios::binary).write(rtf.constData(), rtf.size());
        std::ifstream base(TemplatePath(), std::ios::binary);
        std::ofstream(path + "base.rtf", std::ios::binary) << base.rdbuf();
    }
};

// Closes the manager at the end of its first painted frame: the running invoice's editor
// painted, and the window's whole frame with it.
class FirstFrame : public QObject {
  public:
    explicit FirstFrame(tallimer::TfFacture& manager) : manager_(manager) {
        qApp->installEventFilter(this);
    }
    ~FirstFrame() override { qApp->removeEventFilter(this); }
    qint64 elapsedNs = 0;
    QElapsedTimer clock;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_ && manager_.RichEdit2 &&
            watched == manager_.RichEdit2->viewport()) {
            seen_ = true;
            // Run once the frame is painted and flushed.
            QTimer::singleShot(0, &manager_, [this] {
                elapsedNs = clock.nsecsElapsed();
                manager_.reject();
            });
        }
        return false;
    }

  private:
    tallimer::TfFacture& manager_;
    bool seen_ = false;
};

// The toolbar's click on a manager built at start-up, up to the first painted frame.
void BM_OpenManager(benchmark::State& state) {
    Folder folder(static_cast<int>(state.range(0)));
    std::filesystem::create_directory(folder.path + "Factures");
    for (auto _ : state) {
        state.PauseTiming();
        tallimer::TfFacture manager(folder.path, nullptr,
                                    tallimer::TfFacture::Controls::AtFirstOpening);
        FirstFrame frame(manager);
        state.ResumeTiming();
        frame.clock.start();
        manager.OpenFromMainWindow();
        state.SetIterationTime(static_cast<double>(frame.elapsedNs) / 1e9);
    }
}
BENCHMARK(BM_OpenManager)
    ->Arg(100)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// What the user does in the open manager over a whole 100,000-line invoice, each step up to
// the editor repainted: to the end, a page up, a letter typed and taken back, everything
// selected, back to the top. The slowest step is the counter.
void BM_ManagerKeys(benchmark::State& state) {
    Folder folder(100000);
    std::filesystem::create_directory(folder.path + "Factures");
    tallimer::TfFacture manager(folder.path, nullptr,
                                tallimer::TfFacture::Controls::AtFirstOpening);
    double slowest = 0;
    QTimer::singleShot(0, &manager, [&] {
        manager.RunningFile().document().paragraphCount();  // read whole
        QCoreApplication::processEvents();
        QTextEdit* edit = manager.RichEdit2;
        const auto key = [&](int code, Qt::KeyboardModifiers modifiers, const QString& text) {
            QElapsedTimer clock;
            clock.start();
            QKeyEvent press(QEvent::KeyPress, code, modifiers, text);
            QApplication::sendEvent(edit, &press);
            QKeyEvent release(QEvent::KeyRelease, code, modifiers, text);
            QApplication::sendEvent(edit, &release);
            edit->viewport()->repaint();
            slowest = std::max(slowest, static_cast<double>(clock.nsecsElapsed()) / 1e6);
        };
        for (auto _ : state) {
            key(Qt::Key_End, Qt::ControlModifier, {});
            key(Qt::Key_PageUp, Qt::NoModifier, {});
            key(Qt::Key_X, Qt::NoModifier, "x");
            key(Qt::Key_Backspace, Qt::NoModifier, {});
            key(Qt::Key_A, Qt::ControlModifier, {});
            key(Qt::Key_Home, Qt::ControlModifier, {});
        }
        manager.reject();
    });
    manager.OpenFromMainWindow();
    state.counters["slowest_step_ms"] = slowest;
}
BENCHMARK(BM_ManagerKeys)->Unit(benchmark::kMillisecond)->Iterations(5);

// A period closing at the first connection past the billing date: the archive filed, the
// template back, every file written. The folder is set back untimed between rounds.
void BM_ClosePeriod(benchmark::State& state) {
    Folder folder(static_cast<int>(state.range(0)));
    const std::string kept = folder.path + "kept.rtf";
    std::filesystem::copy_file(folder.path + "temp.rtf", kept);
    // Each line recorded as the closing account's, as the program writes them; mixed, every
    // other line another account's, kept for its own closing.
    std::string owners;
    for (int i = 0; i < state.range(0); ++i)
        owners += (state.range(1) && i % 2 ? "13 Club Internet" : "6 Maison") + kLine + "\r\n";
    const tallimer::DateTime today = tallimer::EncodeDate(2001, 3, 6);
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(folder.path + "Factures");
        std::filesystem::create_directory(folder.path + "Factures");
        std::filesystem::copy_file(kept, folder.path + "temp.rtf",
                                   std::filesystem::copy_options::overwrite_existing);
        std::ofstream(folder.path + "lignes.inf", std::ios::binary) << owners;
        tallimer::TfFacture manager(folder.path, nullptr,
                                    tallimer::TfFacture::Controls::AtFirstOpening);
        tallimer::Account account;
        account.nextInvoice = tallimer::EncodeDate(2001, 3, 5);
        state.ResumeTiming();
        manager.RunningFile().ClosePeriod(account, "Maison", today);
    }
}
BENCHMARK(BM_ClosePeriod)
    ->ArgsProduct({{100, 100000}, {0, 1}})
    ->ArgNames({"lines", "mixed"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// A line at a disconnect on an invoice of range(0) lines, never opened in the manager.
void BM_AddLineToFile(benchmark::State& state) {
    Folder folder(static_cast<int>(state.range(0)));
    tallimer::TfFacture manager(folder.path, nullptr,
                                tallimer::TfFacture::Controls::AtFirstOpening);
    const tallimer::DateTime when = tallimer::EncodeDateTime({2001, 3, 5, 21, 7, 44, 0, 2});
    for (auto _ : state) manager.RunningFile().AddLine(when, 3729000, 12.3456f);
}
BENCHMARK(BM_AddLineToFile)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(30);

// The first start after an upgrade: a new journal takes in the running invoice's lines. The
// peak is the resident memory it reaches above what the process held before.
void BM_ImportInvoiceHistory(benchmark::State& state) {
    Folder folder(static_cast<int>(state.range(0)));
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(folder.path + "journal.sqlite");
        malloc_trim(0);  // what earlier rounds freed is not there to be taken again
        const double before = ResidentMiB("VmRSS");
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from now
        state.ResumeTiming();
        tallimer::SqliteJournal journal(folder.path + "journal.sqlite");
        benchmark::DoNotOptimize(
            tallimer::ImportInvoiceHistory(journal, folder.path, tallimer::AccountCollection{},
                                           "Modem", tallimer::EncodeDate(2026, 12, 7)));
        state.PauseTiming();
        peak = std::max(peak, ResidentMiB("VmHWM") - before);
        state.ResumeTiming();
    }
    state.counters["peak_MiB"] = peak;
}
BENCHMARK(BM_ImportInvoiceHistory)
    ->Arg(100)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
