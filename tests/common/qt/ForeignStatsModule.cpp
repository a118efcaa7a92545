// A statistics module from another build: it answers whatever stamp it is asked, with its own.
// Its window must never be made.
#include <cstdlib>

#include "windows/StatsView.h"

namespace {

tallimer::StatsView* Make(QWidget*) {
    std::abort();
}

const tallimer::StatsModuleEntry kEntry{"another build", &Make};

}  // namespace

extern "C" const tallimer::StatsModuleEntry* tallimer_stats_module(const char*) {
    return &kEntry;
}
