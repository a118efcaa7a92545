#pragma once
// The machine's own IPv4 addresses, as the on-line detector reads them.
#include <cstdint>
#include <string>
#include <vector>

namespace tallimer {

// Reads the addresses from the kernel over one routing socket, kept open between polls.
class HostAddressReader {
  public:
    HostAddressReader() = default;
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

    int socket_ = -1;
    std::uint32_t sequence_ = 0;
    std::vector<char> buffer_;
};

// The same list, read once.
std::vector<std::string> HostAddresses();

}  // namespace tallimer
