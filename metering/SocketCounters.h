#pragma once
// The byte counters of the machine's TCP sockets, as the kernel keeps them, with the
// application each belongs to. Core declares the source; the Linux one lives in platform/,
// a fake in tests.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallimer {

// An address of either family; an IPv4 one in the first four bytes.
struct IpAddress {
    std::uint8_t family = 0;  // 4 or 6; 0: none
    std::array<std::uint8_t, 16> bytes{};
    bool operator==(const IpAddress&) const = default;
};

// One of the link's own addresses with its prefix: its subnet.
struct LinkNet {
    IpAddress address;
    unsigned prefix = 0;
};

// A TCP socket as the kernel names it: enough to find it again. An IPv4 peer of an IPv6
// socket is written as the kernel has it (::ffff:a.b.c.d).
struct SocketId {
    std::uint64_t cookie = 0;  // never given to another socket while the system runs
    IpAddress local, peer;
    std::uint16_t localPort = 0, peerPort = 0;
    std::uint32_t interface = 0;
};

struct SocketCounters {
    SocketId id;
    // The application of the user's process holding it; empty when none can be told (a
    // socket of another user, or of a process gone).
    std::string app;
    // Payload bytes: received in order, and sent and acknowledged by the peer.
    std::uint64_t received = 0, sent = 0;
};

struct SocketTable {
    std::vector<LinkNet> link;  // the addresses of the link that carries the default route
    std::vector<SocketCounters> sockets;
};

class SocketCounterSource {
  public:
    virtual ~SocketCounterSource() = default;
    // Every TCP socket of the machine that may carry bytes, with the link's addresses: a walk
    // of the kernel's whole table, so not each second. Empty when they cannot be read.
    virtual std::optional<SocketTable> readAll() = 0;
    // The counters of these sockets again, found one by one (their app left empty); the
    // sockets gone since are left out. Empty when they cannot be read.
    virtual std::optional<std::vector<SocketCounters>> readAgain(
        const std::vector<SocketId>& sockets) = 0;
};

}  // namespace tallimer
