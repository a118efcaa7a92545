#pragma once
// Where the volume goes: in a connection billed by volume, the bytes of each application
// (from its TCP sockets' own counters), what the link moved that no socket explains, and the
// bytes exchanged with the local network, left out of the billed volume when the account asks.
// The rows always add up to the link's bytes.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "metering/Journal.h"
#include "metering/Meter.h"
#include "metering/SocketCounters.h"
#include "metering/Volume.h"

namespace tallimer {

struct StatsPeriod;

inline constexpr const char* kOthersRowName = "Autres (système, UDP, connexions brèves)";
inline constexpr const char* kLocalRowName = "Réseau local";

// An IPv4 address written in an IPv6 one (::ffff:a.b.c.d) as the IPv4 one; others as they are.
IpAddress Unmapped(const IpAddress& address);
// The local network: the link's own subnets, the private IPv4 ranges, link-local addresses
// of both families and IPv6 unique-local ones.
bool IsLocalNetwork(const IpAddress& address, const std::vector<LinkNet>& link);

// The application a process's cgroup file (/proc/PID/cgroup) names: the application id of
// its systemd unit as the desktop starts it ("app-gnome-firefox-2417.scope" is "firefox",
// "app-flatpak-org.mozilla.firefox-12.scope" is "org.mozilla.firefox"); empty when the
// process is in no application's unit.
std::string AppIdOfCgroup(std::string_view procCgroup);

struct AppBytes {
    std::uint64_t received = 0, sent = 0;
    bool operator==(const AppBytes&) const = default;
};

// One connection's bytes by application, as a save moment records them and a restart takes
// them back. The three parts add up to the link's bytes.
struct AppVolumes {
    std::map<std::string, AppBytes> apps;
    AppBytes others;  // « Autres »: no application's socket explains them
    AppBytes local;   // « Réseau local »: left out of the volume billed
    bool operator==(const AppVolumes&) const = default;
};

// The rows to show and keep: the applications by volume (received and sent, the larger
// first, then by name), then « Autres », then « Réseau local »; rows of no byte left out.
std::vector<AppVolumeRow> RowsOf(const AppVolumes& volumes);
void RankAppVolumes(std::vector<AppVolumeRow>& rows);
// The account's rows summed over the period's connections, ranked.
std::vector<AppVolumeRow> PeriodAppVolumes(ConnectionJournal& journal, const std::string& account,
                                           const StatsPeriod& period);

// Sits between the meter and the volume's prices: each tick's bytes are shared out among the
// applications, and those of the local network are left out of what is priced when the
// account's tariff says so. Only accounts with a volume tariff are followed.
class AppVolumeMeter : public VolumeCharge {
  public:
    // sockets may be null: then every byte is « Autres ».
    AppVolumeMeter(VolumeCharge& priced, const VolumeBook& book, SocketCounterSource* sockets)
        : priced_(priced), book_(book), sockets_(sockets) {}
    void connectionStarted(const std::string& name, const Account& account,
                           bool periodClosed) override;
    float charge(const std::string& name, const Account& account, std::uint64_t received,
                 std::uint64_t sent, const CalendarReading& reading) override;

    // The connection's figures now.
    AppVolumes volumes() const;
    // The figures a record kept, for the connection going on from them.
    void restore(const AppVolumes& volumes);

  private:
    struct Tracked {
        SocketId id;
        std::string app;
        bool local = false;  // its peer is on the local network
        std::uint64_t received = 0, sent = 0;
        unsigned quiet = 0;  // readings in a row that found it moved nothing
    };
    // Reads the sockets when the link moved enough.
    void read(bool leaveOutLocal);
    bool walk(bool baseline, bool leaveOutLocal, std::uint64_t& explained, bool& foundNew);
    // The sockets that moved lately, or the quiet ones.
    bool readAgain(bool quiet, bool leaveOutLocal, std::uint64_t& explained);
    void count(Tracked& t, std::uint64_t received, std::uint64_t sent, bool leaveOutLocal,
               std::uint64_t& explained);
    bool onLink(const SocketCounters& s) const;

    VolumeCharge& priced_;
    const VolumeBook& book_;
    SocketCounterSource* sockets_;

    std::unordered_map<std::uint64_t, Tracked> tracked_;  // by cookie
    std::vector<LinkNet> link_;
    bool baselined_ = false;
    // When to read: the link's bytes since the last reading, and how often the quiet sockets
    // and the table may be looked at while such looks find nothing new (UDP shows in neither).
    std::uint64_t unread_ = 0;
    unsigned sinceLook_ = 0, lookEvery_ = 1;

    std::map<std::string, AppBytes> counted_;  // each application's payload bytes
    AppBytes localCounted_;                    // the local network's, while left out
    AppBytes linkBytes_;                       // what the link moved
    AppBytes localLeftOut_;                    // of localCounted_, left out of the price so far
};

}  // namespace tallimer
