#include "platform/LinkCountersLinux.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <string_view>

namespace tallimer {

namespace {

constexpr unsigned kRouteUp = 0x0001;  // RTF_UP

constexpr std::size_t kLongestCounter = 64;

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
bool ParseWhole(std::string_view text, T& value, int base) {
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

// The counter a statistics file says, read from its start; nothing when the file says no
// number. False when the file cannot be read at all.
bool ReadCounter(int fd, std::optional<std::uint32_t>& value) {
    value.reset();
    if (fd < 0) return true;  // absent: missing, and nothing to fail
    char buffer[kLongestCounter + 1];
    ssize_t n;
    do {
        n = ::pread(fd, buffer, sizeof buffer, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) > kLongestCounter) return true;
    std::string_view text(buffer, static_cast<std::size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    std::uint64_t number = 0;
    if (ParseWhole(text, number, 10))
        value = static_cast<std::uint32_t>(number);  // the low 32 bits, as the counters wrap
    return true;
}

}  // namespace

LinkCountersLinux::LinkCountersLinux(std::string procRoot, std::string sysRoot)
    : procRoot_(std::move(procRoot)), sysRoot_(std::move(sysRoot)) {}

LinkCountersLinux::~LinkCountersLinux() {
    close();
}

LinkCountersLinux::LinkCountersLinux(LinkCountersLinux&& other) noexcept
    : procRoot_(std::move(other.procRoot_)),
      sysRoot_(std::move(other.sysRoot_)),
      open_(other.open_),
      received_(other.received_),
      sent_(other.sent_) {
    other.open_ = false;
    other.received_ = other.sent_ = Counter{};
}

std::string LinkCountersLinux::defaultRouteInterface() const {
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT.
    std::optional<std::string> table = ReadSmallFile(procRoot_ + "/net/route", 16 << 20);
    if (!table) return {};
    std::string best;
    std::uint32_t bestMetric = 0;
    std::string_view rest(*table);
    bool header = true;
    while (!rest.empty()) {
        const std::size_t eol = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(std::min(eol + 1, rest.size()));
        if (header) {
            header = false;
            continue;
        }
        std::string_view f[8];
        std::size_t count = 0;
        while (count < 8) {
            const std::size_t start = line.find_first_not_of(" \t");
            if (start == std::string_view::npos) break;
            line.remove_prefix(start);
            const std::size_t end = std::min(line.find_first_of(" \t"), line.size());
            f[count++] = line.substr(0, end);
            line.remove_prefix(end);
        }
        if (count < 8) continue;
        std::uint32_t destination = 0, flags = 0, metric = 0, mask = 0;
        if (!ParseWhole(f[1], destination, 16) || !ParseWhole(f[3], flags, 16) ||
            !ParseWhole(f[6], metric, 10) || !ParseWhole(f[7], mask, 16))
            continue;
        const std::string name(f[0]);
        if (destination != 0 || mask != 0 || !(flags & kRouteUp) || !SafeInterfaceName(name))
            continue;
        if (best.empty() || metric < bestMetric) {
            best = name;
            bestMetric = metric;
        }
    }
    return best;
}

bool LinkCountersLinux::open() {
    close();
    const std::string interface = defaultRouteInterface();
    if (interface.empty()) return false;
    const std::string folder = sysRoot_ + "/class/net/" + interface + "/statistics/";
    auto openOne = [&](const char* file, Counter& c) {
        c.fd = ::open((folder + file).c_str(), O_RDONLY | O_CLOEXEC);
        c.present = c.fd >= 0 || errno != ENOENT;
    };
    openOne("rx_bytes", received_);
    openOne("tx_bytes", sent_);
    open_ = received_.present || sent_.present;
    if (!open_) close();
    return open_;
}

void LinkCountersLinux::close() {
    for (Counter* c : {&received_, &sent_}) {
        if (c->fd >= 0) ::close(c->fd);
        *c = Counter{};
    }
    open_ = false;
}

bool LinkCountersLinux::readOpen(LinkCounters& c) const {
    return ReadCounter(received_.fd, c.received) && ReadCounter(sent_.fd, c.sent);
}

void LinkCountersLinux::connectionStarted() {
    close();
}

std::optional<LinkCounters> LinkCountersLinux::read() {
    LinkCounters c;
    if (open_ && readOpen(c)) return c;
    // Not found yet, or its files went with the interface: look for the default route again.
    if (!open() || !readOpen(c)) {
        close();
        return std::nullopt;
    }
    c.newLink = true;
    return c;
}

}  // namespace tallimer
