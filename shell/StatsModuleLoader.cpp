#include "shell/StatsModuleLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace tallimer {

namespace {

struct Loaded {
    const StatsModuleEntry* entry = nullptr;
};

// The module's entry, or null with why when the file is there but not for this program.
const StatsModuleEntry* Open(const std::string& path, QString& why) {
    // RTLD_LOCAL: nothing of the module is seen by the program or a later module.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        why = "module illisible";
        return nullptr;
    }
    auto lookup = reinterpret_cast<StatsModuleLookup>(::dlsym(handle, kStatsModuleSymbol));
    const StatsModuleEntry* entry = lookup ? lookup(TALLIMER_STATS_STAMP) : nullptr;
    if (!entry || !entry->stamp || std::strcmp(entry->stamp, TALLIMER_STATS_STAMP) != 0 ||
        !entry->make) {
        ::dlclose(handle);
        why = "module d'une autre version";
        return nullptr;
    }
    return entry;  // never closed: its windows and their code live until the end
}

}  // namespace

std::vector<std::string> StatsModulePaths(const std::string& programFolder) {
    std::string folder = programFolder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return {folder + kStatsModuleFile, folder + "../lib/tallimer/modules/" + kStatsModuleFile};
}

StatsFactory LoadedStats(std::vector<std::string> paths) {
    auto loaded = std::make_shared<Loaded>();
    return [paths = std::move(paths), loaded](QWidget* parent, QString& why) -> StatsView* {
        if (!loaded->entry) {
            QString firstWhy;
            for (const std::string& path : paths) {
                if (::access(path.c_str(), F_OK) != 0) continue;
                QString pathWhy;
                loaded->entry = Open(path, pathWhy);
                if (loaded->entry) break;
                if (firstWhy.isEmpty()) firstWhy = pathWhy;
            }
            if (!loaded->entry) {
                why = firstWhy.isEmpty() ? QString("module introuvable") : firstWhy;
                return nullptr;
            }
        }
        return loaded->entry->make(parent);
    };
}

}  // namespace tallimer
