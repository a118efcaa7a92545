#include "platform/HostAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <climits>

namespace tallimer {

namespace {

// An address label such as "eth0:1" belongs to the interface before the colon.
unsigned InterfaceIndex(const char* label) {
    std::string name(label);
    if (auto colon = name.find(':'); colon != std::string::npos) name.resize(colon);
    unsigned index = if_nametoindex(name.c_str());
    return index ? index : UINT_MAX;  // an interface gone meanwhile sorts last
}

}  // namespace

std::vector<std::string> HostAddresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};

    struct Entry {
        unsigned index;
        std::string text;
    };
    std::vector<Entry> entries;
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !(a->ifa_flags & IFF_UP)) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
        entries.push_back({a->ifa_name ? InterfaceIndex(a->ifa_name) : UINT_MAX, text});
    }
    freeifaddrs(list);

    // Stable: several addresses of one interface keep the kernel's order, primary first.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& x, const Entry& y) { return x.index < y.index; });
    std::vector<std::string> result;
    result.reserve(entries.size());
    for (auto& e : entries) result.push_back(std::move(e.text));
    return result;
}

}  // namespace tallimer
