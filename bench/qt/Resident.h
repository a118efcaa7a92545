#pragma once
// The process's resident memory, as the benchmarks report it.
#include <fstream>
#include <string>
#include <string_view>

// In MiB: "VmRSS" now, or "VmHWM" its peak.
inline double ResidentMiB(std::string_view field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field)) return std::stod(line.substr(field.size() + 1)) / 1024;
    }
    return 0;
}
