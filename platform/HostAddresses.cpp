#include "platform/HostAddresses.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace tallimer {

namespace {

// The kernel never makes one dump message larger than this.
constexpr std::size_t kBufferSize = 32768;

struct Entry {
    unsigned index;
    std::string text;
};

}  // namespace

HostAddressReader::~HostAddressReader() {
    reset();
    if (events_ >= 0) ::close(events_);
}

bool HostAddressReader::changed() {
    if (events_ < 0) {
        events_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
        if (events_ < 0) return true;
        sockaddr_nl groups{};
        groups.nl_family = AF_NETLINK;
        groups.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
        if (::bind(events_, reinterpret_cast<const sockaddr*>(&groups), sizeof groups) != 0) {
            ::close(events_);
            events_ = -1;
        }
        return true;  // nothing heard before now
    }
    // What was announced does not matter, only that something was.
    bool heard = false;
    char message[4096];
    for (;;) {
        ssize_t n = ::recv(events_, message, sizeof message, MSG_DONTWAIT | MSG_TRUNC);
        if (n > 0) {
            heard = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return heard;
        // Announcements were lost (ENOBUFS): read the list again. A socket that failed
        // otherwise is made afresh at the next poll.
        if (n < 0 && errno == ENOBUFS) {
            heard = true;
            continue;
        }
        ::close(events_);
        events_ = -1;
        return true;
    }
}

void HostAddressReader::reset() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
}

bool HostAddressReader::request() {
    if (socket_ < 0) {
        socket_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (socket_ < 0) return false;
        // A kernel that does not answer must not hold the program.
        timeval wait{1, 0};
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    struct {
        nlmsghdr header;
        ifaddrmsg body;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = RTM_GETADDR;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.header.nlmsg_seq = ++sequence_;
    message.body.ifa_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = ::sendto(socket_, &message, sizeof message, 0,
                        reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof message);
}

std::vector<std::string> HostAddressReader::read() {
    if (!follow_) return dump();
    // Listening starts before the list is read, so a change while it is read is heard.
    if (!changed() && known_) return last_;
    last_ = dump();
    known_ = socket_ >= 0;  // a failed read is never kept
    return last_;
}

std::vector<std::string> HostAddressReader::dump() {
    if (!request()) {
        reset();
        return {};
    }
    buffer_.resize(kBufferSize);
    std::vector<Entry> entries;
    // Whether each interface is up, asked once per interface and poll.
    std::vector<std::pair<unsigned, bool>> up;
    auto isUp = [&](unsigned index, const char* label) {
        for (const auto& [i, u] : up)
            if (i == index) return u;
        ifreq request{};
        // An address label such as "eth0:1" belongs to the interface before the colon.
        std::strncpy(request.ifr_name, label, IFNAMSIZ - 1);
        if (char* colon = std::strchr(request.ifr_name, ':')) *colon = '\0';
        const bool u = ::ioctl(socket_, SIOCGIFFLAGS, &request) == 0 &&
                       (request.ifr_flags & IFF_UP) != 0;  // gone meanwhile: not up
        up.emplace_back(index, u);
        return u;
    };

    for (;;) {
        sockaddr_nl from{};
        iovec part{buffer_.data(), buffer_.size()};
        msghdr received{};
        received.msg_name = &from;
        received.msg_namelen = sizeof from;
        received.msg_iov = &part;
        received.msg_iovlen = 1;
        ssize_t n;
        do {
            n = ::recvmsg(socket_, &received, 0);
        } while (n < 0 && errno == EINTR);
        if (n <= 0 || (received.msg_flags & MSG_TRUNC)) {
            reset();  // whatever is left of this dump must not answer the next request
            return {};
        }
        if (from.nl_pid != 0) continue;  // only the kernel speaks here
        auto length = static_cast<unsigned>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer_.data()); NLMSG_OK(h, length);
             h = NLMSG_NEXT(h, length)) {
            if (h->nlmsg_seq != sequence_) continue;  // the end of an earlier, failed poll
            if (h->nlmsg_type == NLMSG_DONE) {
                // Stable: several addresses of one interface keep the kernel's order,
                // primary first.
                std::stable_sort(entries.begin(), entries.end(),
                                 [](const Entry& x, const Entry& y) { return x.index < y.index; });
                std::vector<std::string> result;
                result.reserve(entries.size());
                for (auto& e : entries) result.push_back(std::move(e.text));
                return result;
            }
            if (h->nlmsg_type == NLMSG_ERROR) {
                reset();
                return {};
            }
            if (h->nlmsg_type != RTM_NEWADDR || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg)))
                continue;
            const auto* address = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
            if (address->ifa_family != AF_INET) continue;
            // The local address; a point-to-point link also names its peer in IFA_ADDRESS.
            const void* local = nullptr;
            const void* any = nullptr;
            std::optional<std::string> label;
            unsigned left = IFA_PAYLOAD(h);
            for (auto* a = IFA_RTA(address); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
                const auto size = RTA_PAYLOAD(a);
                if (a->rta_type == IFA_LOCAL && size >= sizeof(in_addr))
                    local = RTA_DATA(a);
                else if (a->rta_type == IFA_ADDRESS && size >= sizeof(in_addr))
                    any = RTA_DATA(a);
                else if (a->rta_type == IFA_LABEL)
                    label.emplace(static_cast<const char*>(RTA_DATA(a)),
                                  strnlen(static_cast<const char*>(RTA_DATA(a)), size));
            }
            const void* chosen = local ? local : any;
            if (!chosen || !label || !isUp(address->ifa_index, label->c_str())) continue;
            char text[INET_ADDRSTRLEN] = {};
            if (!inet_ntop(AF_INET, chosen, text, sizeof text)) continue;
            entries.push_back({address->ifa_index, text});
        }
    }
}

std::vector<std::string> HostAddresses() {
    return HostAddressReader(false).read();
}

}  // namespace tallimer
