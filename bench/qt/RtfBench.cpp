// Reading and writing a big invoice, and appending a line to a short and to a long one.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTextDocument>
#include <string>

#include "richtext/RichInvoice.h"
#include "richtext/RtfReader.h"
#include "richtext/RtfWriter.h"

namespace {

const std::string kLine = "\t05 mars 01, 21:07:44\t01:02:09\t12,35";

// The template as the build installs it beside the program (__FILE__ is relative under a
// compiler cache).
std::string TemplatePath() {
    return QCoreApplication::applicationDirPath().toStdString() + "/../app/base.rtf";
}

void FillInvoice(QTextDocument& doc, int lines) {
    tallimer::RichInvoice invoice(&doc);
    invoice.loadRtf(TemplatePath());
    for (int i = 0; i < lines; ++i) invoice.appendParagraph(kLine);
}

// 100,000 invoice lines: about 10 MB of RTF.
const QByteArray& BigInvoice() {
    static const QByteArray rtf = [] {
        QTextDocument doc;
        doc.setUndoRedoEnabled(false);
        FillInvoice(doc, 100000);
        return tallimer::WriteRtf(doc);
    }();
    return rtf;
}

void BM_ReadInvoice(benchmark::State& state) {
    const QByteArray& rtf = BigInvoice();
    for (auto _ : state) {
        QTextDocument doc;
        tallimer::ReadRtf(rtf, doc);
        benchmark::DoNotOptimize(doc.blockCount());
    }
    state.SetBytesProcessed(state.iterations() * rtf.size());
    state.counters["MB"] = rtf.size() / 1e6;
}
BENCHMARK(BM_ReadInvoice)->Unit(benchmark::kMillisecond);

void BM_WriteInvoice(benchmark::State& state) {
    QTextDocument doc;
    tallimer::ReadRtf(BigInvoice(), doc);
    for (auto _ : state) benchmark::DoNotOptimize(tallimer::WriteRtf(doc).size());
    state.SetBytesProcessed(state.iterations() * BigInvoice().size());
}
BENCHMARK(BM_WriteInvoice)->Unit(benchmark::kMillisecond);

// One line appended to an invoice of range(0) lines, then taken back out untimed. With
// range(1) the document is laid out, as it is in the invoice manager's editor.
void BM_AppendLine(benchmark::State& state) {
    QTextDocument doc;
    FillInvoice(doc, static_cast<int>(state.range(0)));
    if (state.range(1)) benchmark::DoNotOptimize(doc.size());
    tallimer::RichInvoice invoice(&doc);
    const std::size_t count = invoice.paragraphCount();
    for (auto _ : state) {
        invoice.appendParagraph(kLine);
        state.PauseTiming();
        invoice.truncateParagraphs(count);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AppendLine)
    ->ArgsProduct({{100, 1000, 10000, 100000}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
