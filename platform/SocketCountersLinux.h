#pragma once
// The byte counters of the machine's TCP sockets through the kernel's socket diagnostics
// (netlink NETLINK_SOCK_DIAG, tcp_info), as any user may read them, and the application of
// each of the user's own sockets from /proc: the process holding it (/proc/PID/fd), its
// desktop unit (/proc/PID/cgroup) or else its program's name.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "metering/SocketCounters.h"

namespace tallimer {

class SocketCountersLinux : public SocketCounterSource {
  public:
    // The root is the mount point of proc; tests give a fake tree for the processes (the
    // sockets and the link are always the system's).
    explicit SocketCountersLinux(std::string procRoot = "/proc");
    ~SocketCountersLinux() override;
    SocketCountersLinux(const SocketCountersLinux&) = delete;
    SocketCountersLinux& operator=(const SocketCountersLinux&) = delete;

    std::optional<SocketTable> readAll() override;
    std::optional<std::vector<SocketCounters>> readAgain(
        const std::vector<SocketId>& sockets) override;

    // The applications of these socket inodes of the user's processes, looked for in /proc
    // (first among the processes that held the last ones found); an inode no process holds
    // is given "".
    std::unordered_map<std::uint64_t, std::string> appsOf(
        const std::unordered_set<std::uint64_t>& inodes);
    // How a process is named: its desktop unit's application id, else its program's name.
    std::string appOfProcess(const std::string& pid) const;

  private:
    bool ensureSocket();
    // Sends a request and hands each reply of its sequence number to `each`; false when the
    // kernel refused it or the replies could not be read.
    bool request(const void* message, std::size_t size, std::uint32_t firstSeq,
                 std::uint32_t replies, const std::function<void(const void* reply)>& each);
    bool dump(bool compatible, int family, std::vector<SocketCounters>& out,
              std::vector<std::uint64_t>& inodes);

    std::string procRoot_;
    uid_t uid_;
    int diag_ = -1;
    bool compatibleDump_ = true;  // one walk for both families, while the kernel takes it
    std::uint32_t seq_ = 0;
    std::vector<char> buffer_;
    std::unordered_map<std::uint64_t, std::string> apps_;  // by inode, of the sockets seen
    std::vector<std::string> recentOwners_;                // pids, the latest first
};

}  // namespace tallimer
