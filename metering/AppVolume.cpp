#include "metering/AppVolume.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "metering/JournalKeeper.h"
#include "metering/JournalStats.h"

namespace tallimer {

namespace {

__extension__ typedef unsigned __int128 Wide;

// Fewer link bytes than this since the last reading: a quiet link's chatter, not worth a
// look at the sockets.
constexpr std::uint64_t kReadAfter = 8 * 1024;
// A reading that leaves more than this unexplained (and more than an eighth of what the link
// moved, beyond what TCP's headers take) calls for a look at the quiet sockets and, if they do
// not explain it, a walk of the table, at once.
constexpr std::uint64_t kUnexplained = 32 * 1024;
// Looks that find nothing new come ever less often, down to one every this many ticks.
constexpr unsigned kLongestLookGap = 64;
// A socket that moved nothing in this many readings is quiet: looked at only when the link
// moved bytes the others do not explain.
constexpr unsigned kQuietAfter = 8;

bool InNet(const IpAddress& a, const IpAddress& net, unsigned prefix) {
    if (a.family != net.family) return false;
    for (unsigned i = 0; i < prefix / 8; ++i)
        if (a.bytes[i] != net.bytes[i]) return false;
    if (prefix % 8 == 0) return true;
    const auto mask = static_cast<std::uint8_t>(0xFF << (8 - prefix % 8));
    return (a.bytes[prefix / 8] & mask) == (net.bytes[prefix / 8] & mask);
}

// A network by its first two bytes.
IpAddress Net(std::uint8_t family, std::uint8_t a, std::uint8_t b) {
    IpAddress ip;
    ip.family = family;
    ip.bytes[0] = a;
    ip.bytes[1] = b;
    return ip;
}

// "\x2d" as systemd escapes a unit name's bytes, back to the bytes.
std::string Unescaped(std::string_view text) {
    auto hex = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hex(text[i + 2]) >= 0 &&
            hex(text[i + 3]) >= 0) {
            out += static_cast<char>(hex(text[i + 2]) * 16 + hex(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The application id of a unit "app[-<launcher>]-<id>-<random>.scope" or
// "app[-<launcher>]-<id>[@<random>].service"; empty for any other unit.
std::string AppIdOfUnit(std::string_view unit) {
    if (unit.substr(0, 4) != "app-") return {};
    std::string_view name = unit.substr(4);
    if (EndsWith(name, ".scope")) {
        name.remove_suffix(6);
        const std::size_t random = name.rfind('-');
        if (random == std::string_view::npos) return {};
        name = name.substr(0, random);
    } else if (EndsWith(name, ".service")) {
        name.remove_suffix(8);
        name = name.substr(0, name.find('@'));
    } else {
        return {};
    }
    // The id's own dashes are escaped: a dash left ends the launcher's name.
    if (const std::size_t dash = name.find('-'); dash != std::string_view::npos)
        name.remove_prefix(dash + 1);
    return Unescaped(name);
}

AppBytes Minus(const AppBytes& a, const AppBytes& b) {
    return {a.received - b.received, a.sent - b.sent};
}

// Shares `budget` among the counts in proportion when they hold more than it (their
// counters ran ahead of the link's), so the applications never hold more than the link
// moved: each its whole part, then the bytes left one each to the largest remainders.
void Apportion(std::map<std::string, AppBytes>& apps, std::uint64_t AppBytes::*field,
               std::uint64_t budget) {
    Wide total = 0;
    for (const auto& [name, bytes] : apps) total += bytes.*field;
    if (total <= budget) return;
    std::vector<std::pair<Wide, std::uint64_t*>> remainders;
    std::uint64_t given = 0;
    for (auto& [name, bytes] : apps) {
        const Wide scaled = static_cast<Wide>(bytes.*field) * budget;
        bytes.*field = static_cast<std::uint64_t>(scaled / total);
        given += bytes.*field;
        remainders.emplace_back(scaled % total, &(bytes.*field));
    }
    std::stable_sort(remainders.begin(), remainders.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t i = 0; given < budget; ++i, ++given) ++*remainders[i].second;
}

}  // namespace

IpAddress Unmapped(const IpAddress& a) {
    static constexpr std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (a.family != 6 || !std::equal(kMapped, kMapped + 12, a.bytes.begin())) return a;
    IpAddress v4;
    v4.family = 4;
    std::copy(a.bytes.begin() + 12, a.bytes.end(), v4.bytes.begin());
    return v4;
}

bool IsLocalNetwork(const IpAddress& address, const std::vector<LinkNet>& link) {
    const IpAddress a = Unmapped(address);
    static const std::pair<IpAddress, unsigned> kLocal[] = {
        {Net(4, 10, 0), 8},     {Net(4, 172, 16), 12}, {Net(4, 192, 168), 16},
        {Net(4, 169, 254), 16}, {Net(6, 0xFC, 0), 7},  {Net(6, 0xFE, 0x80), 10}};
    for (const auto& [net, prefix] : kLocal)
        if (InNet(a, net, prefix)) return true;
    for (const LinkNet& net : link) {
        const IpAddress own = Unmapped(net.address);
        // A subnet as wide as a good part of the Internet is a misconfiguration, not a
        // local network: its bytes stay billed.
        const unsigned narrowest = own.family == 4 ? 8 : 16;
        const unsigned widest = own.family == 4 ? 32 : 128;
        if (net.prefix >= narrowest && net.prefix <= widest && InNet(a, own, net.prefix))
            return true;
    }
    return false;
}

std::string AppIdOfCgroup(std::string_view text) {
    // The unified hierarchy's line ("0::/path"), else the one of systemd's own hierarchy.
    std::string_view path, systemdPath;
    while (!text.empty()) {
        const std::size_t eol = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, eol);
        text.remove_prefix(std::min(eol + 1, text.size()));
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        if (line.substr(0, first) == "0" && controllers.empty())
            path = line.substr(second + 1);
        else if (controllers == "name=systemd")
            systemdPath = line.substr(second + 1);
    }
    for (std::string_view p : {path, systemdPath}) {
        // The innermost application unit: a process may sit in a group below it.
        while (!p.empty()) {
            const std::size_t slash = p.rfind('/');
            const std::string_view unit = slash == std::string_view::npos ? p : p.substr(slash + 1);
            if (std::string app = AppIdOfUnit(unit); !app.empty()) return app;
            p = p.substr(0, slash == std::string_view::npos ? 0 : slash);
        }
    }
    return {};
}

void RankAppVolumes(std::vector<AppVolumeRow>& rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const AppVolumeRow& a, const AppVolumeRow& b) {
        if (a.kind != b.kind) return a.kind < b.kind;
        const Wide ta = static_cast<Wide>(a.received) + a.sent;
        const Wide tb = static_cast<Wide>(b.received) + b.sent;
        if (ta != tb) return ta > tb;
        return a.app < b.app;
    });
}

std::vector<AppVolumeRow> RowsOf(const AppVolumes& v) {
    std::vector<AppVolumeRow> rows;
    for (const auto& [name, bytes] : v.apps)
        rows.push_back({AppRowKind::Application, name, bytes.received, bytes.sent});
    rows.push_back({AppRowKind::Others, {}, v.others.received, v.others.sent});
    rows.push_back({AppRowKind::LocalNetwork, {}, v.local.received, v.local.sent});
    std::erase_if(rows, [](const AppVolumeRow& r) { return r.received == 0 && r.sent == 0; });
    RankAppVolumes(rows);
    return rows;
}

std::vector<AppVolumeRow> PeriodAppVolumes(ConnectionJournal& journal, const std::string& account,
                                           const StatsPeriod& period) {
    JournalQuery query{account, {}, {}};
    if (period.kind != StatsPeriodKind::All) {
        auto day = [](DateTime d) {
            const YearMonthDay ymd = DecodeDate(d);
            LocalDateTime t;
            t.year = ymd.year;
            t.month = static_cast<int>(ymd.month);
            t.day = static_cast<int>(ymd.day);
            return IsoLocal(t);
        };
        query.fromLocal = day(period.from);
        query.toLocal = day(period.to);
    }
    std::vector<AppVolumeRow> rows = journal.appVolumes(query);
    RankAppVolumes(rows);
    return rows;
}

// ---- The meter

bool AppVolumeMeter::onLink(const SocketCounters& s) const {
    // Only what goes over the link counts. A socket nobody can be named for is followed all
    // the same: its bytes are explained, so they call for no look at the other sockets.
    const IpAddress local = Unmapped(s.id.local);
    return std::any_of(link_.begin(), link_.end(),
                       [&](const LinkNet& net) { return Unmapped(net.address) == local; });
}

void AppVolumeMeter::connectionStarted(const std::string& name, const Account& account,
                                       bool periodClosed) {
    priced_.connectionStarted(name, account, periodClosed);
    tracked_.clear();
    link_.clear();
    baselined_ = false;
    unread_ = 0;
    sinceLook_ = 0;
    lookEvery_ = 1;
    counted_.clear();
    localCounted_ = linkBytes_ = localLeftOut_ = AppBytes{};
    // What the sockets moved before the connection is not its own.
    std::uint64_t explained = 0;
    bool foundNew = false;
    if (sockets_ && book_.count(name)) baselined_ = walk(true, false, explained, foundNew);
}

float AppVolumeMeter::charge(const std::string& name, const Account& account,
                             std::uint64_t received, std::uint64_t sent,
                             const CalendarReading& reading) {
    const auto it = book_.find(name);
    if (it == book_.end()) return priced_.charge(name, account, received, sent, reading);
    const bool leaveOutLocal = it->second.tariff.leaveOutLocal;
    linkBytes_.received += received;
    linkBytes_.sent += sent;
    unread_ += received + sent;
    read(leaveOutLocal);
    // The local bytes waiting to be left out, up to what the link moved now: a volume is
    // never taken back, so what the sockets counted ahead of the link waits for later bytes.
    AppBytes out;
    if (leaveOutLocal) {
        const AppBytes waiting = Minus(localCounted_, localLeftOut_);
        out = {std::min(waiting.received, received), std::min(waiting.sent, sent)};
        localLeftOut_.received += out.received;
        localLeftOut_.sent += out.sent;
    }
    return priced_.charge(name, account, received - out.received, sent - out.sent, reading);
}

void AppVolumeMeter::read(bool leaveOutLocal) {
    if (!sockets_) return;
    std::uint64_t explained = 0;
    bool foundNew = false;
    if (!baselined_) {
        // The tariff came during the connection, or the first walk failed: from now on.
        baselined_ = walk(true, leaveOutLocal, explained, foundNew);
        unread_ = 0;
        return;
    }
    ++sinceLook_;
    if (unread_ < kReadAfter || !readAgain(false, leaveOutLocal, explained)) return;
    // Bytes the sockets that moved lately do not explain: one of the quiet ones woke, or a
    // new socket was made; unless such looks keep finding nothing (UDP).
    auto unexplained = [&] {
        return unread_ - std::min(unread_, explained) > std::max(kUnexplained, unread_ / 8);
    };
    if (unexplained() && sinceLook_ >= lookEvery_) {
        const std::uint64_t before = explained;
        bool found = readAgain(true, leaveOutLocal, explained) && explained > before;
        if (unexplained() && walk(false, leaveOutLocal, explained, foundNew)) found |= foundNew;
        sinceLook_ = 0;
        lookEvery_ = found ? 1 : std::min(lookEvery_ * 2, kLongestLookGap);
    }
    unread_ = 0;
}

void AppVolumeMeter::count(Tracked& t, std::uint64_t received, std::uint64_t sent,
                           bool leaveOutLocal, std::uint64_t& explained) {
    // A counter never goes back for one socket; if it seems to, it starts again from there.
    const std::uint64_t r = received >= t.received ? received - t.received : 0;
    const std::uint64_t s = sent >= t.sent ? sent - t.sent : 0;
    t.received = received;
    t.sent = sent;
    t.quiet = r + s > 0 ? 0 : std::min(t.quiet + 1, kQuietAfter);
    explained += r + s;
    AppBytes* into = nullptr;
    if (t.local && leaveOutLocal)
        into = &localCounted_;
    else if (!t.app.empty())
        into = &counted_[t.app];
    if (!into) return;  // nobody's, on the local network that is counted: « Autres »
    into->received += r;
    into->sent += s;
}

bool AppVolumeMeter::walk(bool baseline, bool leaveOutLocal, std::uint64_t& explained,
                          bool& foundNew) {
    std::optional<SocketTable> table = sockets_->readAll();
    if (!table) return false;
    link_ = std::move(table->link);
    std::unordered_map<std::uint64_t, Tracked> next;
    next.reserve(tracked_.size() + 8);
    for (SocketCounters& s : table->sockets) {
        auto known = tracked_.find(s.id.cookie);
        if (known != tracked_.end()) {
            count(known->second, s.received, s.sent, leaveOutLocal, explained);
            next.emplace(s.id.cookie, std::move(known->second));
            continue;
        }
        if (!onLink(s)) continue;
        Tracked t{s.id, std::move(s.app), IsLocalNetwork(s.id.peer, link_), 0, 0};
        if (baseline) {
            // Nothing says they will move: looked at when the link's bytes call for it.
            t.received = s.received;
            t.sent = s.sent;
            t.quiet = kQuietAfter;
        } else {
            // Born since the last walk: all it moved is this connection's.
            foundNew = foundNew || s.received + s.sent > 0;
            count(t, s.received, s.sent, leaveOutLocal, explained);
        }
        next.emplace(s.id.cookie, std::move(t));
    }
    // The sockets gone keep what they were last seen with.
    tracked_ = std::move(next);
    return true;
}

bool AppVolumeMeter::readAgain(bool quiet, bool leaveOutLocal, std::uint64_t& explained) {
    std::vector<SocketId> ids;
    for (const auto& [cookie, t] : tracked_)
        if ((t.quiet >= kQuietAfter) == quiet) ids.push_back(t.id);
    if (ids.empty()) return true;
    std::optional<std::vector<SocketCounters>> again = sockets_->readAgain(ids);
    if (!again) return false;
    std::unordered_set<std::uint64_t> present;
    for (const SocketCounters& s : *again) {
        auto known = tracked_.find(s.id.cookie);
        if (known == tracked_.end()) continue;
        count(known->second, s.received, s.sent, leaveOutLocal, explained);
        present.insert(s.id.cookie);
    }
    // The sockets gone keep what they were last seen with.
    for (const SocketId& id : ids)
        if (!present.count(id.cookie)) tracked_.erase(id.cookie);
    return true;
}

AppVolumes AppVolumeMeter::volumes() const {
    AppVolumes v;
    v.local = localLeftOut_;
    const AppBytes billed = Minus(linkBytes_, localLeftOut_);
    v.apps = counted_;
    std::erase_if(v.apps,
                  [](const auto& app) { return app.second.received == 0 && app.second.sent == 0; });
    Apportion(v.apps, &AppBytes::received, billed.received);
    Apportion(v.apps, &AppBytes::sent, billed.sent);
    v.others = billed;
    for (const auto& [name, bytes] : v.apps) {
        v.others.received -= bytes.received;
        v.others.sent -= bytes.sent;
    }
    return v;
}

void AppVolumeMeter::restore(const AppVolumes& v) {
    counted_ = v.apps;
    localCounted_ = localLeftOut_ = v.local;
    linkBytes_ = {v.others.received + v.local.received, v.others.sent + v.local.sent};
    for (const auto& [name, bytes] : v.apps) {
        linkBytes_.received += bytes.received;
        linkBytes_.sent += bytes.sent;
    }
}

}  // namespace tallimer
