#pragma once
// The machine's own IPv4 addresses, as the on-line detector reads them.
#include <string>
#include <vector>

namespace tallimer {

// Dotted texts of the addresses of the interfaces that are up, in interface-index order:
// loopback first, a link made later (a PPP dial-up) last. Empty when the list cannot be had.
std::vector<std::string> HostAddresses();

}  // namespace tallimer
