#pragma once
// Finds and loads the statistics module at the window's first opening.
#include <string>
#include <vector>

#include "windows/StatsView.h"

namespace tallimer {

// The module's file name, and where it is looked for from the program's folder: beside the
// program (the build tree, a per-user install), then <prefix>/lib/tallimer/modules/ for a
// program in <prefix>/bin/ (a folder below lib/tallimer/: a module, not a library ldconfig
// should know).
inline constexpr const char* kStatsModuleFile = "libtallimer-stats.so";
std::vector<std::string> StatsModulePaths(const std::string& programFolder);

// A factory that loads the first of paths that exists and belongs to this build. A missing
// module or one from another build makes no window, with why in French; the next opening
// looks again. Once loaded the module stays for the process's life, as its windows may.
StatsFactory LoadedStats(std::vector<std::string> paths);

}  // namespace tallimer
