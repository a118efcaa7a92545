#include "metering/Volume.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "metering/JournalStats.h"
#include "support/FieldText.h"
#include "support/FileWrite.h"
#include "support/NumberText.h"

namespace tallimer {

namespace {

// Bytes a field of volume.inf cannot hold as they are.
bool IsEscaped(unsigned char c) {
    return c == '%' || c == '\t' || c == '\r' || c == '\n' || c == 0x1A;
}

bool ReadFlag(std::string_view text, bool& out) {
    if (text != "0" && text != "1") return false;
    out = text == "1";
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    // The no-break spaces of a French text (U+00A0 and U+202F, in UTF-8) are blanks too.
    for (std::string_view nb : {"\xC2\xA0", "\xE2\x80\xAF"}) {
        while (text.substr(0, nb.size()) == nb) text.remove_prefix(nb.size());
        while (text.size() >= nb.size() && text.substr(text.size() - nb.size()) == nb)
            text.remove_suffix(nb.size());
    }
    return text;
}

// A figure with a decimal comma or point, no sign: its value, or nothing.
std::optional<long double> ReadFigure(std::string_view text) {
    std::string c(text);
    for (char& ch : c)
        if (ch == ',') ch = '.';
    if (c.empty() || c.find_first_not_of("0123456789.") != std::string::npos ||
        c.find('.') != c.rfind('.') || c == ".")
        return std::nullopt;
    double v = 0;
    auto r = std::from_chars(c.data(), c.data() + c.size(), v);
    if (r.ec != std::errc() || r.ptr != c.data() + c.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::string Quoted(std::string_view text) {
    return "«\u00A0" + std::string(text) + "\u00A0»";
}

}  // namespace

VolumeAccount& SetVolumeTariff(VolumeBook& book, const std::string& name, const Account& account,
                               const VolumeTariff& tariff) {
    auto [it, added] = book.try_emplace(name);
    if (added) it->second.period = account.nextInvoice;
    // A new cap may be reached again.
    if (it->second.tariff.capBytes != tariff.capBytes)
        it->second.fired &= ~static_cast<unsigned>(kVolume80 | kVolume100);
    it->second.tariff = tariff;
    return it->second;
}

std::string VolumeBookBytes(const VolumeBook& book) {
    std::string out;
    for (const auto& [name, v] : book) {
        const VolumeTariff& t = v.tariff;
        out += PercentEscaped(name, IsEscaped) + '\t' + NumberField(t.capBytes) + '\t' +
               NumberField(t.pricePerMoBeyond) + '\t' + NumberField(t.pricePerMo) + '\t' +
               (t.countSent ? "1" : "0") + '\t' + (t.offPeakFree ? "1" : "0") + '\t' +
               NumberField(v.period) + '\t' + NumberField(v.periodBytes) + '\t' +
               NumberField(v.freeBytes) + '\t' + NumberField(v.overallBytes) + '\t' +
               NumberField(v.day) + '\t' + NumberField(v.dayStartBytes) + '\t' +
               NumberField(v.fired) + (t.leaveOutLocal ? "\t1" : "") + "\r\n";
    }
    return out;
}

VolumeBook ParseVolumeBook(std::string_view bytes) {
    VolumeBook book;
    for (std::string_view line : SplitFields(bytes, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::vector<std::string_view> f = SplitFields(line, '\t');
        if (f.size() != 13 && f.size() != 14) continue;
        VolumeAccount v;
        VolumeTariff& t = v.tariff;
        const std::optional<std::string> name = PercentUnescaped(f[0]);
        const bool read = name && ReadField(f[1], t.capBytes) &&
                          ReadField(f[2], t.pricePerMoBeyond) && ReadField(f[3], t.pricePerMo) &&
                          ReadFlag(f[4], t.countSent) && ReadFlag(f[5], t.offPeakFree) &&
                          ReadField(f[6], v.period) && ReadField(f[7], v.periodBytes) &&
                          ReadField(f[8], v.freeBytes) && ReadField(f[9], v.overallBytes) &&
                          ReadField(f[10], v.day) && ReadField(f[11], v.dayStartBytes) &&
                          ReadField(f[12], v.fired) &&
                          (f.size() == 13 || ReadFlag(f[13], t.leaveOutLocal));
        const bool sane = read && std::isfinite(t.pricePerMoBeyond) && t.pricePerMoBeyond >= 0 &&
                          std::isfinite(t.pricePerMo) && t.pricePerMo >= 0 &&
                          std::isfinite(v.period) && std::isfinite(v.day);
        if (!sane) continue;
        v.fired &= kVolume80 | kVolume100 | kVolumeDay;
        book[*name] = v;
    }
    return book;
}

VolumeBook LoadVolumeBook(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return {};
    return ParseVolumeBook(bytes);
}

bool SaveVolumeBook(const std::string& path, const VolumeBook& book) {
    const std::string bytes = VolumeBookBytes(book);
    FileStamp stamp;
    if (bytes.empty() && !StampOfFile(path, stamp)) return true;
    return SaveIfChanged(path, bytes);
}

void StartNewVolumePeriod(VolumeAccount& volume, const Account& account) {
    volume.period = account.nextInvoice;
    volume.periodBytes = volume.freeBytes = volume.dayStartBytes = 0;
    volume.fired = 0;
}

void ReconcileVolumeBook(VolumeBook& book, const AccountCollection& accounts) {
    for (const auto& [name, account] : accounts) {
        auto it = book.find(name);
        if (it == book.end()) continue;
        VolumeAccount& volume = it->second;
        if (volume.period == account.nextInvoice || account.nextInvoice == 0) continue;
        // Before the current period began: a closing the account file holds and this one
        // does not. A billing date moved by hand stays within reach and keeps its figures.
        if (volume.period < BillingPeriod(account, 0, account.nextInvoice).from)
            StartNewVolumePeriod(volume, account);
    }
}

void VolumeMeter::connectionStarted(const std::string& name, const Account& account,
                                    bool periodClosed) {
    connectionBytes_ = 0;
    connectionCost_ = 0;
    auto it = book_.find(name);
    if (it == book_.end()) return;
    if (periodClosed)
        StartNewVolumePeriod(it->second, account);
    else
        it->second.period = account.nextInvoice;  // a billing date moved by hand
}

float VolumeCost(const VolumeTariff& t, std::uint64_t before, std::uint64_t bytes) {
    const std::uint64_t under = before >= t.capBytes ? 0 : std::min(bytes, t.capBytes - before);
    const long double cost = (bytes - under) * static_cast<long double>(t.pricePerMoBeyond) / kMo +
                             bytes * static_cast<long double>(t.pricePerMo) / kMo;
    return static_cast<float>(cost);
}

float VolumeMeter::charge(const std::string& name, const Account& account, std::uint64_t received,
                          std::uint64_t sent, const CalendarReading& reading) {
    auto it = book_.find(name);
    if (it == book_.end()) return 0;
    VolumeAccount& v = it->second;
    if (v.period == 0) v.period = account.nextInvoice;  // a tariff set during the connection
    const std::uint64_t bytes = received + (v.tariff.countSent ? sent : 0);
    connectionBytes_ += bytes;
    v.overallBytes += bytes;
    if (v.tariff.offPeakFree && InOffPeakHours(account, reading)) {
        v.freeBytes += bytes;
        return 0;
    }
    const float cost = VolumeCost(v.tariff, v.periodBytes, bytes);
    v.periodBytes += bytes;
    connectionCost_ = static_cast<float>(static_cast<long double>(connectionCost_) + cost);
    return cost;
}

std::optional<std::uint64_t> ParseVolumeText(std::string_view text) {
    text = Trimmed(text);
    std::size_t unitAt = text.size();
    while (unitAt > 0 && IsLetter(text[unitAt - 1])) --unitAt;
    std::string unit(text.substr(unitAt));
    for (char& c : unit)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    long double scale = 0;
    if (unit == "ko") scale = 1e3L;
    if (unit == "mo") scale = 1e6L;
    if (unit == "go") scale = 1e9L;
    if (unit == "to") scale = 1e12L;
    if (scale == 0) return std::nullopt;
    const std::optional<long double> figure = ReadFigure(Trimmed(text.substr(0, unitAt)));
    // Beyond a million To nobody has a plan; the bound keeps the bytes within 64 bits.
    if (!figure || *figure * scale > 1e18L) return std::nullopt;
    return static_cast<std::uint64_t>(std::llround(*figure * scale));
}

std::optional<float> ParsePricePerMo(std::string_view text) {
    const std::optional<long double> figure = ReadFigure(Trimmed(text));
    if (!figure || *figure > 1e6L) return std::nullopt;
    return static_cast<float>(*figure);
}

std::string VolumeRefusal(std::string_view text) {
    if (ParseVolumeText(text)) return {};
    return Quoted(text) +
           " n'est pas un volume correct\u00A0: tapez un nombre et son unité, par exemple 500 Mo, "
           "20 Go ou 1,5 Go.";
}

std::string PricePerMoRefusal(std::string_view text) {
    if (ParsePricePerMo(text)) return {};
    return Quoted(text) +
           " n'est pas un prix par Mo correct\u00A0: tapez un nombre positif ou nul, par exemple "
           "0,05.";
}

std::string VolumeText(std::uint64_t bytes, const Locale& locale) {
    static const char* const units[] = {"o", "ko", "Mo", "Go", "To"};
    std::size_t u = 0;
    long double scale = 1;
    while (u + 1 < std::size(units) && bytes >= scale * 1000) {
        scale *= 1000;
        ++u;
    }
    for (;;) {
        const long double v = bytes / scale;
        const bool tenths = v < 10 && u > 0;
        const long double rounded = tenths ? std::round(v * 10) / 10 : std::round(v);
        if (rounded >= 1000 && u + 1 < std::size(units)) {
            scale *= 1000;
            ++u;
            continue;
        }
        const auto whole = static_cast<std::uint64_t>(rounded);
        std::string text = std::to_string(whole);
        if (const auto tenth = static_cast<int>(std::llround((rounded - whole) * 10)); tenth > 0)
            text += locale.decimalSeparator + std::to_string(tenth);
        return text + " " + units[u];
    }
}

VolumeFigures FiguresOf(const VolumeAccount& volume, const Account& account, DateTime now) {
    VolumeFigures f;
    f.used = volume.periodBytes;
    f.cap = volume.tariff.capBytes;
    f.freeBytes = volume.freeBytes;
    const StatsPeriod period = BillingPeriod(account, 0, std::floor(now));
    f.estimate = static_cast<std::uint64_t>(
        std::llround(static_cast<long double>(f.used) * EstimateScale(period, now)));
    f.daysLeft = std::max(period.to - std::floor(now), 1.0);
    const std::uint64_t left = f.cap > f.used ? f.cap - f.used : 0;
    f.leftPerDay = static_cast<std::uint64_t>(left / f.daysLeft);
    return f;
}

namespace {

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

// The period's bytes from which each alert not yet said falls due, once the day's look is
// made; kNever for one said already or without a cap.
struct VolumeThresholds {
    std::uint64_t eighty = kNever, full = kNever, day = kNever;
    std::uint64_t share = 0;  // the day's share
};

VolumeThresholds ThresholdsOf(const VolumeAccount& v, const Account& account, DateTime now) {
    VolumeThresholds t;
    const std::uint64_t cap = v.tariff.capBytes;
    if (cap == 0) return t;
    if (!(v.fired & kVolume100)) t.full = cap;
    if (!(v.fired & kVolume80)) t.eighty = (cap * 4 + 4) / 5;
    // The day's share: what was left when the day began, spread over the days left.
    if (v.dayStartBytes < cap && !(v.fired & kVolumeDay)) {
        t.share = static_cast<std::uint64_t>((cap - v.dayStartBytes) /
                                             FiguresOf(v, account, now).daysLeft);
        t.day = v.dayStartBytes + t.share + 1;
    }
    return t;
}

// The day begins at its first look: what came before it belongs to the day before.
void LookAtTheDay(VolumeAccount& v, const Account& account, DateTime now) {
    if (v.period == 0) v.period = account.nextInvoice;
    const DateTime today = std::floor(now);
    if (v.day != today) {
        v.day = today;
        v.dayStartBytes = v.periodBytes;
        v.fired &= ~static_cast<unsigned>(kVolumeDay);
    }
}

}  // namespace

std::vector<std::string> DueVolumeAlerts(VolumeAccount& v, const Account& account, DateTime now,
                                         const Locale& locale) {
    std::vector<std::string> texts;
    LookAtTheDay(v, account, now);
    const VolumeThresholds t = ThresholdsOf(v, account, now);
    const bool full = v.periodBytes >= t.full, eighty = !full && v.periodBytes >= t.eighty;
    const bool day = v.periodBytes >= t.day;
    if (!full && !eighty && !day) return texts;
    const std::uint64_t cap = v.tariff.capBytes;
    const VolumeFigures f = FiguresOf(v, account, now);
    const std::string estimate =
        "Estimation à la fin de la période\u00A0: " + VolumeText(f.estimate, locale) + ".";
    const std::string used = VolumeText(v.periodBytes, locale);
    if (full) {
        v.fired |= kVolume100 | kVolume80;
        texts.push_back("Volume inclus de la période atteint\u00A0: " + used + " pour " +
                        VolumeText(cap, locale) + ". " + estimate);
    } else if (eighty) {
        v.fired |= kVolume80;
        texts.push_back("80\u00A0% du volume inclus de la période\u00A0: " + used + " sur " +
                        VolumeText(cap, locale) + ". " + estimate);
    }
    if (day) {
        v.fired |= kVolumeDay;
        texts.push_back("Volume du jour au-delà de la part du jour\u00A0: " +
                        VolumeText(v.periodBytes - v.dayStartBytes, locale) + " pour " +
                        VolumeText(t.share, locale) +
                        ". Reste par jour\u00A0: " + VolumeText(f.leftPerDay, locale) + ".");
    }
    return texts;
}

std::uint64_t NextVolumeAlertBytes(const VolumeAccount& volume, const Account& account,
                                   DateTime now) {
    const VolumeThresholds t = ThresholdsOf(volume, account, now);
    return std::min({t.eighty, t.full, t.day});
}

bool OffersVolumeTariff(const VolumeBook& book, const std::string& account,
                        MeteredLinkSource& link) {
    return book.find(account) == book.end() && link.linkMetered();
}

std::string VolumeFieldText(std::uint64_t bytes, const Locale& locale) {
    static const char* const units[] = {"ko", "Mo", "Go", "To"};
    std::uint64_t scale = 1000;
    std::size_t u = 0;
    while (u + 1 < std::size(units) && bytes / scale >= 1000) {
        scale *= 1000;
        ++u;
    }
    std::string text = std::to_string(bytes / scale), decimals;
    for (std::uint64_t rest = bytes % scale, s = scale / 10; rest > 0; rest %= s, s /= 10)
        decimals += static_cast<char>('0' + rest / s);
    if (!decimals.empty()) text += locale.decimalSeparator + decimals;
    return text + " " + units[u];
}

std::string PricePerMoText(float price, const Locale& locale) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, price, std::chars_format::fixed);
    std::string text(buf, r.ptr);
    if (const auto dot = text.find('.'); dot != std::string::npos)
        text.replace(dot, 1, locale.decimalSeparator);
    return text;
}

}  // namespace tallimer
