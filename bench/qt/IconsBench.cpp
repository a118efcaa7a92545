// What the main window's toolbar pictures cost at start: each glyph as the toolbar shows it.
#include <benchmark/benchmark.h>

#include <QIcon>
#include <QPixmap>

#include "controls/RatePictures.h"

namespace {

constexpr tallimer::ToolbarGlyph kGlyphs[] = {
    tallimer::ToolbarGlyph::Go,        tallimer::ToolbarGlyph::Settings,
    tallimer::ToolbarGlyph::Invoices,  tallimer::ToolbarGlyph::About,
    tallimer::ToolbarGlyph::StayOnTop, tallimer::ToolbarGlyph::Help,
    tallimer::ToolbarGlyph::Reduce,    tallimer::ToolbarGlyph::Close};

void BM_ToolbarIconsShown(benchmark::State& state) {
    for (auto _ : state) {
        for (tallimer::ToolbarGlyph glyph : kGlyphs) {
            QIcon icon = tallimer::ToolbarIcon(glyph);
            benchmark::DoNotOptimize(icon.pixmap(20, 20).cacheKey());
        }
    }
}
BENCHMARK(BM_ToolbarIconsShown)->Unit(benchmark::kMicrosecond);

}  // namespace
