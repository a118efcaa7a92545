#pragma once
// Byte counters of the link that carries the IPv4 default route, read from the kernel's
// route table and the interface statistics.
#include <optional>
#include <string>

#include "metering/Sources.h"

namespace tallimer {

class LinkCountersLinux : public LinkCounterSource {
  public:
    // The roots are the mount points of proc and sysfs; tests give a fake tree.
    explicit LinkCountersLinux(std::string procRoot = "/proc", std::string sysRoot = "/sys");

    // Empty when there is no default route or the interface has neither statistics file;
    // a counter whose file is absent or says no number is missing.
    std::optional<LinkCounters> read() override;

    // The interface of the up default route with the lowest metric; empty when none.
    std::string defaultRouteInterface() const;

  private:
    // found tells whether the file exists; a file that exists but says no number is missing.
    std::optional<std::uint32_t> counter(const std::string& interface, const char* file,
                                         bool& found) const;

    std::string procRoot_;
    std::string sysRoot_;
};

}  // namespace tallimer
