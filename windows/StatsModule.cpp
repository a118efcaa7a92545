// The statistics module's one entry point. Built only into the module, which carries the chart
// libraries the program itself never loads.
#include <cstring>

#include "windows/FNStats.h"
#include "windows/StatsView.h"

namespace {

tallimer::StatsView* Make(QWidget* parent) {
    return new tallimer::TfStats(parent);
}

const tallimer::StatsModuleEntry kEntry{TALLIMER_STATS_STAMP, &Make};

}  // namespace

extern "C" const tallimer::StatsModuleEntry* tallimer_stats_module(const char* callerStamp) {
    return callerStamp && std::strcmp(callerStamp, kEntry.stamp) == 0 ? &kEntry : nullptr;
}
