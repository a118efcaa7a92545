#pragma once
// Billing by volume: a tariff per account on the bytes the link moves (a cap included in the
// period, a price per Mo beyond it or from the first byte), the period's volume counted as
// its time is, the figures of the statistics window and the volume alerts. Kept in a file of
// its own beside the accounts; an account with no volume tariff is metered by time alone.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/Comptes.h"
#include "metering/Meter.h"
#include "support/Locale.h"

namespace tallimer {

inline constexpr const char* kVolumeFile = "volume.inf";

// Volumes are in bytes. The units people type and read are the providers' decimal ones:
// 1 ko = 10^3, 1 Mo = 10^6, 1 Go = 10^9 bytes; prices are per Mo of 10^6 bytes.
inline constexpr std::uint64_t kMo = 1000000;

struct VolumeTariff {
    std::uint64_t capBytes = 0;  // included in each billing period
    float pricePerMoBeyond = 0;  // beyond the cap; 0 when the provider slows the link instead
    float pricePerMo = 0;        // from the first byte (prepaid plans)
    bool countSent = true;       // received and sent, or received only
    bool offPeakFree = false;    // the account's reduced-rate hours are free and not counted
    bool leaveOutLocal = false;  // « Ne pas compter le réseau local »
    bool operator==(const VolumeTariff&) const = default;
};

enum VolumeAlertBit : unsigned { kVolume80 = 1, kVolume100 = 2, kVolumeDay = 4 };

struct VolumeAccount {
    VolumeTariff tariff;
    DateTime period = 0;              // nextInvoice of the period the figures belong to
    std::uint64_t periodBytes = 0;    // counted against the cap
    std::uint64_t freeBytes = 0;      // moved in free hours this period
    std::uint64_t overallBytes = 0;   // every period, free hours included
    DateTime day = 0;                 // the local day dayStartBytes and kVolumeDay belong to
    std::uint64_t dayStartBytes = 0;  // periodBytes when that day began
    unsigned fired = 0;               // VolumeAlertBit, of this period (kVolumeDay: of the day)
    bool operator==(const VolumeAccount&) const = default;
};
// Only the accounts with a volume tariff are in it.
using VolumeBook = std::map<std::string, VolumeAccount>;

// The user sets or changes the account's tariff: the period's figures stay, a new entry
// belongs to the account's current period; a new cap may alert again.
VolumeAccount& SetVolumeTariff(VolumeBook& book, const std::string& name, const Account& account,
                               const VolumeTariff& tariff);

// The bytes of the file: one line per account, CR LF, tab-separated, C-locale numbers: name,
// cap, price beyond, price per Mo, sent counted (0/1), free hours (0/1), period, period
// bytes, free bytes, overall bytes, day, day's start bytes, fired bits; then "1" when the local
// network is left out, nothing otherwise, so a line without it is as before. In the name,
// '%', tab, CR, LF and Ctrl-Z are written %XX, so any name comes back as it was.
std::string VolumeBookBytes(const VolumeBook& book);
// A line that does not read whole is skipped: a tariff half read would bill wrongly.
VolumeBook ParseVolumeBook(std::string_view bytes);
VolumeBook LoadVolumeBook(const std::string& path);
// Through the one write path, and only when the bytes change: no tariff and no file yet
// writes nothing. The session calls it where it saves the accounts (the minute save, a
// connection's start and end, the exit), after them.
bool SaveVolumeBook(const std::string& path, const VolumeBook& book);
// After loading: figures of a period the account file has closed since (a crash between the
// two files' saves) are the old period's, so they start again.
void ReconcileVolumeBook(VolumeBook& book, const AccountCollection& accounts);
// The account's billing period was closed: its volume starts from nothing.
void StartNewVolumePeriod(VolumeAccount& volume, const Account& account);

// Typed values. A volume is a number with the decimal comma or point and its unit: "500 Mo",
// "20 Go", "1,5 Go" (ko, Mo, Go, To, any case); a price per Mo is a number not below 0.
std::optional<std::uint64_t> ParseVolumeText(std::string_view text);
std::optional<float> ParsePricePerMo(std::string_view text);
// The French refusal to show for a malformed value; empty when it reads.
std::string VolumeRefusal(std::string_view text);
std::string PricePerMoRefusal(std::string_view text);

// "850 Mo", "1,5 Go": the largest unit that keeps a figure of at least 1; one decimal below
// 10, none from 10, a ",0" left out; rounded half away from zero, a figure that rounds to
// 1000 written in the next unit.
std::string VolumeText(std::uint64_t bytes, const Locale& locale);

// What the meter calls: counts each tick's bytes into the connection, the period and the
// overall volume of an account with a volume tariff, and prices them.
class VolumeMeter : public VolumeCharge {
  public:
    explicit VolumeMeter(VolumeBook& book) : book_(book) {}
    void connectionStarted(const std::string& name, const Account& account,
                           bool periodClosed) override;
    float charge(const std::string& name, const Account& account, std::uint64_t received,
                 std::uint64_t sent, const CalendarReading& reading) override;
    // The connection's counted bytes (free hours included) and what they cost.
    std::uint64_t connectionBytes() const { return connectionBytes_; }
    float connectionCost() const { return connectionCost_; }

  private:
    VolumeBook& book_;
    std::uint64_t connectionBytes_ = 0;
    float connectionCost_ = 0;
};

// The cost of `bytes` counted while the period held `before` bytes: the part over the cap at
// the price beyond, every byte at the price per Mo, in long double, stored as a float.
float VolumeCost(const VolumeTariff& tariff, std::uint64_t before, std::uint64_t bytes);

// The statistics window's figures for the account's current period at local time `now`.
struct VolumeFigures {
    std::uint64_t used = 0, cap = 0, freeBytes = 0;
    std::uint64_t estimate = 0;    // at the period's end, at the pace so far
    std::uint64_t leftPerDay = 0;  // « reste par jour » until the billing date, today included
    double daysLeft = 0;           // whole days, today included
};
VolumeFigures FiguresOf(const VolumeAccount& volume, const Account& account, DateTime now);

// The volume alerts due at `now`, each once: 80 % and 100 % of the cap once per period, the
// day's volume beyond the day's share once per day. Marks them in volume.fired; the caller
// saves the book before it shows them, so a restart does not say them again. French texts.
std::vector<std::string> DueVolumeAlerts(VolumeAccount& volume, const Account& account,
                                         DateTime now, const Locale& locale);
// The period's bytes from which DueVolumeAlerts will say something, as the figures stand
// after its last look; the largest count when nothing can fall due. Cheap to compare each
// second while the link moves.
std::uint64_t NextVolumeAlertBytes(const VolumeAccount& volume, const Account& account,
                                   DateTime now);

// Whether the statistics offer a volume tariff to the account: the desktop says its link is
// metered and it has none yet. Only ever an offer: nothing sets a tariff but the user.
bool OffersVolumeTariff(const VolumeBook& book, const std::string& account,
                        MeteredLinkSource& link);

// The text of a volume field: exact in the largest unit it fills, so it reads back as the
// same bytes ("1,5 Go", "1,2345678 Go", "0,5 ko").
std::string VolumeFieldText(std::uint64_t bytes, const Locale& locale);
// The shortest text of a price per Mo that reads back as the same float.
std::string PricePerMoText(float price, const Locale& locale);

}  // namespace tallimer
