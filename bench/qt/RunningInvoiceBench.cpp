// The running invoice as the program meets it: the invoice manager built at start-up over a
// kept temp.rtf of 100,000 lines, and one line added at a disconnect, file write included.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextDocument>
#include <fstream>
#include <string>

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

void BM_StartWithBigInvoice(benchmark::State& state) {
    Folder folder(100000);
    for (auto _ : state)
        tallimer::TfFacture manager(folder.path, nullptr,
                                    tallimer::TfFacture::Controls::AtFirstOpening);
}
BENCHMARK(BM_StartWithBigInvoice)->Unit(benchmark::kMillisecond)->Iterations(5);

// A line at a disconnect on an invoice of range(0) lines, never opened in the manager.
void BM_AddLineToFile(benchmark::State& state) {
    Folder folder(static_cast<int>(state.range(0)));
    tallimer::TfFacture manager(folder.path, nullptr,
                                tallimer::TfFacture::Controls::AtFirstOpening);
    const tallimer::DateTime when = tallimer::EncodeDateTime({2001, 3, 5, 21, 7, 44, 0, 2});
    for (auto _ : state) manager.RunningFile().AddLine(when, 3729000, 12.3456f);
}
BENCHMARK(BM_AddLineToFile)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace
