#include "platform/SocketCountersLinux.h"

#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstring>

#include "metering/AppVolume.h"
#include "platform/LinkCountersLinux.h"
#include "support/FileWrite.h"

namespace tallimer {

namespace {

// The states of a socket that may move bytes: not listening, not in TIME_WAIT (which keeps
// no counters), not a bare connection request.
constexpr std::uint32_t kStates = (1u << 1) | (1u << 2) | (1u << 3) | (1u << 4) | (1u << 5) |
                                  (1u << 7) | (1u << 8) | (1u << 9) | (1u << 11);
constexpr std::uint8_t kInfo = 1u << (INET_DIAG_INFO - 1);
// Sockets asked for again in one message; their replies fit the receive buffer.
constexpr std::size_t kBatch = 64;
constexpr std::size_t kReceiveBuffer = 64 * 1024;
// tcp_info up to the counters read here (Linux 4.2 and later).
constexpr std::size_t kInfoNeeded =
    offsetof(tcp_info, tcpi_bytes_received) + sizeof(tcp_info::tcpi_bytes_received);

// A request to the kernel: its header and its body.
template <class Body>
struct Request {
    Request(std::uint16_t type, std::uint16_t flags, std::uint32_t seq) {
        header.nlmsg_len = sizeof *this;
        header.nlmsg_type = type;
        header.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | flags);
        header.nlmsg_seq = seq;
    }
    nlmsghdr header{};
    Body body{};
};

std::uint8_t FamilyOf(int family) {
    return family == AF_INET ? 4 : family == AF_INET6 ? 6 : 0;
}

IpAddress AddressOf(int family, const __be32 words[4]) {
    IpAddress a;
    a.family = FamilyOf(family);
    std::memcpy(a.bytes.data(), words, a.family == 4 ? 4 : 16);
    return a;
}

void PutAddress(const IpAddress& a, __be32 words[4]) {
    std::memcpy(words, a.bytes.data(), a.family == 4 ? 4 : 16);
}

// One socket of a reply; false when it says no counters (TIME_WAIT, an old kernel).
bool ReadSocket(const nlmsghdr* h, SocketCounters& out, std::uint64_t& inode, uid_t& uid) {
    if (h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) return false;
    inet_diag_msg m;
    std::memcpy(&m, NLMSG_DATA(h), sizeof m);
    if (FamilyOf(m.idiag_family) == 0) return false;
    tcp_info info{};
    bool counted = false;
    int left = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof m));
    auto* a = reinterpret_cast<const rtattr*>(static_cast<const char*>(NLMSG_DATA(h)) +
                                              NLMSG_ALIGN(sizeof m));
    for (; RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if (a->rta_type != INET_DIAG_INFO || RTA_PAYLOAD(a) < kInfoNeeded) continue;
        std::memcpy(&info, RTA_DATA(a), std::min<std::size_t>(RTA_PAYLOAD(a), sizeof info));
        counted = true;
    }
    if (!counted) return false;
    SocketId& id = out.id;
    id.cookie = m.id.idiag_cookie[0] | static_cast<std::uint64_t>(m.id.idiag_cookie[1]) << 32;
    id.local = AddressOf(m.idiag_family, m.id.idiag_src);
    id.peer = AddressOf(m.idiag_family, m.id.idiag_dst);
    id.localPort = ntohs(m.id.idiag_sport);
    id.peerPort = ntohs(m.id.idiag_dport);
    id.interface = m.id.idiag_if;
    out.received = info.tcpi_bytes_received;
    out.sent = info.tcpi_bytes_acked;
    inode = m.idiag_inode;
    uid = m.idiag_uid;
    return true;
}

// The addresses of the interface that carries the default route, with their prefixes.
std::vector<LinkNet> LinkNets(const std::string& procRoot) {
    std::vector<LinkNet> nets;
    const std::string name = LinkCountersLinux(procRoot).defaultRouteInterface();
    ifaddrs* list = nullptr;
    if (name.empty() || getifaddrs(&list) != 0) return nets;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || !i->ifa_netmask || name != i->ifa_name) continue;
        const int family = i->ifa_addr->sa_family;
        const std::uint8_t *address = nullptr, *mask = nullptr;
        std::size_t size = 0;
        if (family == AF_INET) {
            address = reinterpret_cast<const std::uint8_t*>(
                &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr);
            mask = reinterpret_cast<const std::uint8_t*>(
                &reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr);
            size = 4;
        } else if (family == AF_INET6) {
            address = reinterpret_cast<const std::uint8_t*>(
                &reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr);
            mask = reinterpret_cast<const std::uint8_t*>(
                &reinterpret_cast<const sockaddr_in6*>(i->ifa_netmask)->sin6_addr);
            size = 16;
        } else {
            continue;
        }
        LinkNet net;
        net.address.family = FamilyOf(family);
        std::copy(address, address + size, net.address.bytes.begin());
        for (std::size_t b = 0; b < size; ++b)
            net.prefix += static_cast<unsigned>(__builtin_popcount(mask[b]));
        nets.push_back(net);
    }
    freeifaddrs(list);
    return nets;
}

bool IsNumber(const char* name) {
    return *name &&
           std::all_of(name, name + std::strlen(name), [](char c) { return c >= '0' && c <= '9'; });
}

// The inode of a "socket:[12345]" link; 0 for anything else.
std::uint64_t SocketInode(std::string_view target) {
    constexpr std::string_view kHead = "socket:[";
    if (target.substr(0, kHead.size()) != kHead || target.back() != ']') return 0;
    std::uint64_t inode = 0;
    const char* end = target.data() + target.size() - 1;
    auto [p, ec] = std::from_chars(target.data() + kHead.size(), end, inode);
    return ec == std::errc() && p == end ? inode : 0;
}

}  // namespace

SocketCountersLinux::SocketCountersLinux(std::string procRoot)
    : procRoot_(std::move(procRoot)), uid_(geteuid()) {}

SocketCountersLinux::~SocketCountersLinux() {
    if (diag_ >= 0) ::close(diag_);
}

bool SocketCountersLinux::ensureSocket() {
    if (diag_ >= 0) return true;
    diag_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (diag_ < 0) return false;
    // A kernel that never answered would hold the tick; it always does, at once.
    timeval wait{2, 0};
    ::setsockopt(diag_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    int size = 4 * kReceiveBuffer;
    ::setsockopt(diag_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return true;
}

bool SocketCountersLinux::request(const void* message, std::size_t size, std::uint32_t firstSeq,
                                  std::uint32_t replies,
                                  const std::function<void(const void* reply)>& each) {
    auto broken = [this] {
        // Replies left half read would answer the next request: start afresh.
        ::close(diag_);
        diag_ = -1;
        return false;
    };
    ssize_t n;
    do {
        n = ::send(diag_, message, size, 0);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(size)) return broken();
    buffer_.resize(kReceiveBuffer);
    const std::uint32_t lastSeq = firstSeq + std::max<std::uint32_t>(replies, 1) - 1;
    std::uint32_t got = 0;
    for (;;) {
        do {
            n = ::recv(diag_, buffer_.data(), buffer_.size(), 0);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return broken();
        int left = static_cast<int>(n);
        for (auto* h = reinterpret_cast<const nlmsghdr*>(buffer_.data()); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq < firstSeq || h->nlmsg_seq > lastSeq) continue;
            if (replies == 0) {
                // A walk: replies until its end.
                if (h->nlmsg_type == NLMSG_DONE) return true;
                if (h->nlmsg_type == NLMSG_ERROR) return false;
                each(h);
                continue;
            }
            // Sockets asked for one by one: one reply each, an error for one gone.
            if (h->nlmsg_type != NLMSG_ERROR) each(h);
            if (++got == replies) return true;
        }
    }
}

bool SocketCountersLinux::dump(bool compatible, int family, std::vector<SocketCounters>& out,
                               std::vector<std::uint64_t>& inodes) {
    const std::uint32_t seq = ++seq_;
    auto each = [&](const void* reply) {
        SocketCounters s;
        std::uint64_t inode = 0;
        uid_t uid = 0;
        if (!ReadSocket(static_cast<const nlmsghdr*>(reply), s, inode, uid)) return;
        out.push_back(std::move(s));
        // Only the user's own processes can be looked into.
        inodes.push_back(uid == uid_ ? inode : 0);
    };
    if (compatible) {
        // The older request walks the table once for both families.
        Request<inet_diag_req> r(TCPDIAG_GETSOCK, NLM_F_DUMP, seq);
        r.body.idiag_ext = kInfo;
        r.body.idiag_states = kStates;
        return request(&r, sizeof r, seq, 0, each);
    }
    Request<inet_diag_req_v2> r(SOCK_DIAG_BY_FAMILY, NLM_F_DUMP, seq);
    r.body.sdiag_family = static_cast<std::uint8_t>(family);
    r.body.sdiag_protocol = IPPROTO_TCP;
    r.body.idiag_ext = kInfo;
    r.body.idiag_states = kStates;
    return request(&r, sizeof r, seq, 0, each);
}

std::optional<SocketTable> SocketCountersLinux::readAll() {
    if (!ensureSocket()) return std::nullopt;
    SocketTable table;
    std::vector<std::uint64_t> inodes;
    bool read = false;
    if (compatibleDump_) {
        read = dump(true, AF_UNSPEC, table.sockets, inodes);
        if (!read && diag_ >= 0) compatibleDump_ = false;  // refused, not broken
    }
    if (!read) {
        table.sockets.clear();
        inodes.clear();
        if (!ensureSocket() || !dump(false, AF_INET, table.sockets, inodes) ||
            !dump(false, AF_INET6, table.sockets, inodes))
            return std::nullopt;
    }
    table.link = LinkNets(procRoot_);

    // Only the sockets of this walk are remembered; the new ones are looked for.
    std::unordered_map<std::uint64_t, std::string> apps;
    std::unordered_set<std::uint64_t> unknown;
    for (std::uint64_t inode : inodes) {
        if (inode == 0) continue;
        if (auto it = apps_.find(inode); it != apps_.end())
            apps.insert(apps_.extract(it));
        else
            unknown.insert(inode);
    }
    if (!unknown.empty()) apps.merge(appsOf(unknown));
    apps_ = std::move(apps);
    for (std::size_t i = 0; i < inodes.size(); ++i)
        if (inodes[i] != 0) table.sockets[i].app = apps_[inodes[i]];
    return table;
}

std::optional<std::vector<SocketCounters>> SocketCountersLinux::readAgain(
    const std::vector<SocketId>& ids) {
    std::vector<SocketCounters> found;
    if (ids.empty()) return found;
    if (!ensureSocket()) return std::nullopt;
    found.reserve(ids.size());
    std::vector<Request<inet_diag_req_v2>> batch;
    for (std::size_t from = 0; from < ids.size(); from += kBatch) {
        const std::size_t count = std::min(kBatch, ids.size() - from);
        const std::uint32_t first = seq_ + 1;
        seq_ += static_cast<std::uint32_t>(count);
        batch.clear();
        for (std::size_t i = 0; i < count; ++i) {
            const SocketId& id = ids[from + i];
            auto& r =
                batch.emplace_back(SOCK_DIAG_BY_FAMILY, 0, first + static_cast<std::uint32_t>(i));
            r.body.sdiag_family = id.local.family == 4 ? AF_INET : AF_INET6;
            r.body.sdiag_protocol = IPPROTO_TCP;
            r.body.idiag_ext = kInfo;
            r.body.idiag_states = kStates;
            PutAddress(id.local, r.body.id.idiag_src);
            PutAddress(id.peer, r.body.id.idiag_dst);
            r.body.id.idiag_sport = htons(id.localPort);
            r.body.id.idiag_dport = htons(id.peerPort);
            r.body.id.idiag_if = id.interface;
            // The cookie makes sure it is the same socket, not a new one on the same ports.
            r.body.id.idiag_cookie[0] = static_cast<std::uint32_t>(id.cookie);
            r.body.id.idiag_cookie[1] = static_cast<std::uint32_t>(id.cookie >> 32);
        }
        const bool read =
            request(batch.data(), batch.size() * sizeof(batch[0]), first,
                    static_cast<std::uint32_t>(count), [&found](const void* reply) {
                        SocketCounters s;
                        std::uint64_t inode = 0;
                        uid_t uid = 0;
                        if (ReadSocket(static_cast<const nlmsghdr*>(reply), s, inode, uid))
                            found.push_back(std::move(s));
                    });
        if (!read) return std::nullopt;
    }
    return found;
}

std::string SocketCountersLinux::appOfProcess(const std::string& pid) const {
    const std::string folder = procRoot_ + "/" + pid + "/";
    std::string text;
    if (ReadWholeFile(folder + "cgroup", text))
        if (std::string app = AppIdOfCgroup(text); !app.empty()) return app;
    char target[4096];
    const ssize_t n = ::readlink((folder + "exe").c_str(), target, sizeof target);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof target) {
        std::string_view exe(target, static_cast<std::size_t>(n));
        if (exe.size() > 10 && exe.substr(exe.size() - 10) == " (deleted)") exe.remove_suffix(10);
        exe.remove_prefix(std::min(exe.size(), exe.rfind('/') + 1));
        if (!exe.empty()) return std::string(exe);
    }
    if (!ReadWholeFile(folder + "comm", text)) return {};
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::unordered_map<std::uint64_t, std::string> SocketCountersLinux::appsOf(
    const std::unordered_set<std::uint64_t>& inodes) {
    std::unordered_map<std::uint64_t, std::string> apps;
    std::unordered_set<std::uint64_t> wanted = inodes;
    std::vector<std::string> owners;
    std::unordered_set<std::string> scanned;
    auto scan = [&](const std::string& pid) {
        scanned.insert(pid);
        const int fds =
            ::open((procRoot_ + "/" + pid + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fds < 0) return;
        DIR* dir = ::fdopendir(fds);
        if (!dir) {
            ::close(fds);
            return;
        }
        std::string app;
        bool named = false;
        while (dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            char target[64];
            const ssize_t n = ::readlinkat(fds, e->d_name, target, sizeof target);
            if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) continue;
            const std::uint64_t inode = SocketInode({target, static_cast<std::size_t>(n)});
            if (inode == 0 || wanted.erase(inode) == 0) continue;
            if (!named) {
                app = appOfProcess(pid);
                named = true;
                owners.push_back(pid);
            }
            apps[inode] = app;
            if (wanted.empty()) break;
        }
        ::closedir(dir);
    };
    // New sockets mostly come from the programs that made the last ones.
    for (const std::string& pid : recentOwners_) {
        if (wanted.empty()) break;
        scan(pid);
    }
    if (!wanted.empty()) {
        if (DIR* proc = ::opendir(procRoot_.c_str())) {
            while (dirent* e = ::readdir(proc)) {
                if (wanted.empty()) break;
                if (!IsNumber(e->d_name) || scanned.count(e->d_name)) continue;
                struct stat st;
                if (::fstatat(::dirfd(proc), e->d_name, &st, 0) != 0 || st.st_uid != uid_) continue;
                scan(e->d_name);
            }
            ::closedir(proc);
        }
    }
    // Held by no process of the user's (gone already, or passed to another user's).
    for (std::uint64_t inode : wanted) apps[inode] = std::string();
    for (const std::string& pid : recentOwners_)
        if (std::find(owners.begin(), owners.end(), pid) == owners.end() && owners.size() < 8)
            owners.push_back(pid);
    recentOwners_ = std::move(owners);
    return apps;
}

}  // namespace tallimer
