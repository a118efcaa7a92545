#pragma once
// The machine's own IPv4 addresses, as the on-line detector reads them.
#include <cstdint>
#include <string>
#include <vector>

namespace tallimer {

// Reads the addresses from the kernel over one routing socket, kept open between polls. A
// second socket hears the kernel announce address and link changes: while it has heard
// nothing, a poll answers the last list read with a single system call.
class HostAddressReader {
  public:
    // followChanges: false for a reader asked once, which needs no second socket.
    explicit HostAddressReader(bool followChanges = true) : follow_(followChanges) {}
    ~HostAddressReader();
    HostAddressReader(const HostAddressReader&) = delete;
    HostAddressReader& operator=(const HostAddressReader&) = delete;

    // Dotted texts of the addresses of the interfaces that are up, in interface-index
    // order: loopback first, a link made later (a PPP dial-up) last. Empty when the list
    // cannot be had.
    std::vector<std::string> read();

  private:
    bool request();
    void reset();
    std::vector<std::string> dump();
    // Whether the kernel announced a change since the last call (true when it cannot tell).
    bool changed();

    int socket_ = -1;
    int events_ = -1;
    bool follow_;
    bool known_ = false;  // last_ is the list as it stands, unless a change was announced
    std::uint32_t sequence_ = 0;
    std::vector<char> buffer_;
    std::vector<std::string> last_;
};

// The same list, read once.
std::vector<std::string> HostAddresses();

}  // namespace tallimer
