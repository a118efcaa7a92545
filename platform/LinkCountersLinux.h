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
    ~LinkCountersLinux() override;
    LinkCountersLinux(LinkCountersLinux&& other) noexcept;
    LinkCountersLinux& operator=(LinkCountersLinux&&) = delete;

    // Empty when there is no default route or the interface has neither statistics file;
    // a counter whose file is absent or says no number is missing. The interface found is
    // kept until the next connection, or until its files can no longer be read.
    std::optional<LinkCounters> read() override;
    void connectionStarted() override;

    // The interface of the up default route with the lowest metric; empty when none.
    std::string defaultRouteInterface() const;

  private:
    // One statistics file, kept open between readings.
    struct Counter {
        int fd = -1;
        bool present = false;  // the file exists, though it may not be readable
    };
    // Opens the statistics of the default route's interface; false when there is none.
    bool open();
    void close();
    // False when a kept file can no longer be read (the interface went away).
    bool readOpen(LinkCounters& c) const;

    std::string procRoot_;
    std::string sysRoot_;
    bool open_ = false;
    Counter received_;
    Counter sent_;
};

}  // namespace tallimer
