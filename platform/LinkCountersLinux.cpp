#include "platform/LinkCountersLinux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <vector>

namespace tallimer {

namespace {

constexpr unsigned kRouteUp = 0x0001;  // RTF_UP

// The whole of a small file, or nothing when it cannot be read or is larger than max.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t max) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    char buffer[256];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || content.size() + static_cast<std::size_t>(n) > max) {
            ok = false;
            break;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return content;
}

template <typename T>
bool ParseWhole(const std::string& text, T& value, int base) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value, base);
    return ec == std::errc() && p == end;
}

// A name that stays one path component under /sys/class/net.
bool SafeInterfaceName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

LinkCountersLinux::LinkCountersLinux(std::string procRoot, std::string sysRoot)
    : procRoot_(std::move(procRoot)), sysRoot_(std::move(sysRoot)) {}

std::string LinkCountersLinux::defaultRouteInterface() const {
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT.
    std::ifstream in(procRoot_ + "/net/route");
    if (!in) return {};
    std::string line;
    std::getline(in, line);  // header
    std::string best;
    std::uint32_t bestMetric = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string w; f.size() < 8 && fields >> w;) f.push_back(std::move(w));
        if (f.size() < 8) continue;
        std::uint32_t destination = 0, flags = 0, metric = 0, mask = 0;
        if (!ParseWhole(f[1], destination, 16) || !ParseWhole(f[3], flags, 16) ||
            !ParseWhole(f[6], metric, 10) || !ParseWhole(f[7], mask, 16))
            continue;
        if (destination != 0 || mask != 0 || !(flags & kRouteUp) || !SafeInterfaceName(f[0]))
            continue;
        if (best.empty() || metric < bestMetric) {
            best = f[0];
            bestMetric = metric;
        }
    }
    return best;
}

std::optional<std::uint32_t> LinkCountersLinux::counter(const std::string& interface,
                                                        const char* file, bool& found) const {
    std::string path = sysRoot_ + "/class/net/" + interface + "/statistics/" + file;
    found = ::access(path.c_str(), F_OK) == 0;
    auto text = ReadSmallFile(path, 64);
    if (!text) return std::nullopt;
    while (!text->empty() && (text->back() == '\n' || text->back() == ' ')) text->pop_back();
    std::uint64_t value = 0;
    if (!ParseWhole(*text, value, 10)) return std::nullopt;
    return static_cast<std::uint32_t>(value);  // the low 32 bits, as the counters wrap
}

std::optional<LinkCounters> LinkCountersLinux::read() {
    std::string interface = defaultRouteInterface();
    if (interface.empty()) return std::nullopt;
    bool haveReceived = false, haveSent = false;
    LinkCounters c{counter(interface, "rx_bytes", haveReceived),
                   counter(interface, "tx_bytes", haveSent)};
    if (!haveReceived && !haveSent) return std::nullopt;
    return c;
}

}  // namespace tallimer
