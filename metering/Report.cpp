#include "metering/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>

#include "metering/Alerts.h"
#include "metering/JournalStats.h"
#include "metering/Volume.h"
#include "support/FieldText.h"
#include "support/NumberText.h"

namespace tallimer {

namespace {

// One account's figures as the report gives them, the running copy's where it meters it.
struct Figures {
    const ReportAccount* source;
    Account account;
    const JournalRow* last = nullptr;
};

bool MeteredHere(const Report& r, const std::string& name) {
    return r.live && r.live->online && r.live->account == name;
}

std::vector<Figures> FiguresOf(const Report& r) {
    std::vector<const ReportAccount*> all;
    for (const ReportAccount& a : r.accounts) all.push_back(&a);
    std::sort(all.begin(), all.end(), [](auto* a, auto* b) { return a->name < b->name; });
    std::vector<Figures> out;
    for (const ReportAccount* a : all) {
        Figures f{a, a->account};
        const bool metered = MeteredHere(r, a->name);
        if (metered) {
            const SessionState& s = *r.live;
            f.account.periodDuration = s.periodMs;
            f.account.periodCost = s.periodCost;
            f.account.packageEnabled = s.packageEnabled;
            if (s.packageEnabled)
                f.account.packageRemaining = static_cast<std::int32_t>(
                    std::clamp<std::int64_t>(s.packageLeftMs, INT32_MIN, INT32_MAX));
            f.account.nextInvoice = s.periodEnd;
        }
        // The row of the connection in progress is not the last one.
        for (const JournalRow& row : a->newest) {
            if (IsFeeLine(row) || (metered && row.end == JournalEnd::Open)) continue;
            f.last = &row;
            break;
        }
        out.push_back(f);
    }
    return out;
}

OverallState OverallOf(const Report& r) {
    OverallState o = r.overall;
    if (r.live) {
        o.overallDuration = r.live->overallMs;
        o.overallCost = r.live->overallCost;
    }
    return o;
}

std::string Money(float v, const Locale& l) {
    return AmountText(v, l) + " €";
}

std::string IsoDateTime(DateTime t) {
    // Rounded to the second, but never onto the next day.
    const auto seconds =
        static_cast<unsigned>(std::clamp(std::lround((t - std::floor(t)) * 86400), 0L, 86399L));
    char buf[16];
    std::snprintf(buf, sizeof buf, "T%02u:%02u:%02u", seconds / 3600 % 24, seconds / 60 % 60,
                  seconds % 60);
    return IsoDay(t) + buf;
}

// "le 07/12/2026 à 21:03:12" of the journal's local start.
std::string StartText(const std::string& iso) {
    if (!ParseLocalIso(iso)) return "à une date illisible";
    return "le " + iso.substr(8, 2) + '/' + iso.substr(5, 2) + '/' + iso.substr(0, 4) + " à " +
           iso.substr(11, 8);
}

const char* RateName(std::uint8_t icon) {
    return icon == 2 ? "réduit" : icon == 3 ? "forfait" : "normal";
}

std::string Number(std::int64_t v) {
    return std::to_string(v);
}

// JSON has no infinities: a non-finite figure, which only a spoilt file holds, is null.
template <typename T>
std::string Number(T v) {
    return std::isfinite(v) ? NumberField(v) : "null";
}

}  // namespace

std::string IsoDay(DateTime day) {
    const YearMonthDay d = DecodeDate(std::floor(day));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", d.year, d.month, d.day);
    return buf;
}

std::string StatusLine(const std::optional<SessionState>& live, const Locale& locale) {
    if (!live || !live->online) return "hors ligne";
    return LongDurationText(live->connectionMs) + " · " + Money(live->connectionCost, locale);
}

std::string TrayHint(const SessionState& state, std::optional<std::uint64_t> volumeBytes,
                     const Locale& locale) {
    std::string hint = "Le tallimer internet";
    if (state.online && volumeBytes)
        hint += "\n" + StatusLine(state, locale) + " · " + VolumeText(*volumeBytes, locale);
    return hint;
}

std::string ReportText(const Report& r, const Locale& l) {
    std::string out;
    const std::vector<Figures> figures = FiguresOf(r);
    if (figures.empty()) out += "Aucun compte.\n\n";
    for (const Figures& f : figures) {
        const Account& a = f.account;
        const std::string& name = f.source->name;
        out += name.empty() ? "Compte sans nom\n" : "Compte « " + Utf8(name) + " »\n";
        out += "  " + BillingPeriod(a, 0, std::floor(r.now)).label + "\n";
        out += "  Durée : " + LongDurationText(a.periodDuration.totalMs) + "\n";
        out += "  Coût : " + Money(a.periodCost, l) + "\n";
        // As the window shows it, negative once the package is overrun.
        if (a.packageEnabled) out += "  Forfait restant : " + a.packageRemaining.ToText() + "\n";
        out += "  Estimation à la fin de la période : " + Money(EstimatedPeriodCost(a, r.now), l) +
               "\n";
        if (const JournalRow* row = f.last)
            out += "  Dernière connexion : " + StartText(row->startLocal) + ", " +
                   LongDurationText(row->durationMs) + " pour " + Money(row->cost, l) +
                   (row->end == JournalEnd::CutShort ? " (interrompue)" : "") + "\n";
        else
            out += "  Dernière connexion : aucune\n";
        out += "\n";
    }
    const OverallState o = OverallOf(r);
    out += "Total de tous les comptes\n";
    out += "  Durée : " + LongDurationText(o.overallDuration.totalMs) + "\n";
    out += "  Coût : " + Money(o.overallCost, l) + "\n\n";
    if (r.live && r.live->online) {
        const SessionState& s = *r.live;
        out += "Connexion en cours : " +
               (s.account.empty() ? std::string("compte sans nom")
                                  : "compte « " + Utf8(s.account) + " »") +
               ", " + LongDurationText(s.connectionMs) + " pour " + Money(s.connectionCost, l) +
               ", tarif " + RateName(s.rateIcon) + "\n";
    } else if (r.silent) {
        out += "Connexion en cours : la copie en marche ne répond pas.\n";
    } else {
        out += "Aucune connexion en cours.\n";
    }
    return out;
}

std::string ReportJson(const Report& r, const Locale& l) {
    // One line: status bars read their command's output a line at a time.
    const std::vector<Figures> figures = FiguresOf(r);
    const bool online = r.live && r.live->online;
    std::string out = "{\"version\":1,\"date\":\"" + IsoDateTime(r.now) + "\"";
    out += std::string(",\"en_ligne\":") + (online ? "true" : "false");
    // For waybar's custom modules, which read these three.
    out += ",\"text\":" + JsonString(r.silent ? kSilentLine : StatusLine(r.live, l));
    out += std::string(",\"class\":\"") +
           (online     ? "en-ligne"
            : r.silent ? "sans-reponse"
                       : "hors-ligne") +
           "\"";
    out += ",\"tooltip\":" + JsonString(ReportText(r, l));
    out += ",\"comptes\":[";
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figures& f = figures[i];
        const Account& a = f.account;
        const StatsPeriod p = BillingPeriod(a, 0, std::floor(r.now));
        out += i ? "," : "";
        out += "{\"nom\":" + JsonString(f.source->name) + ",\"periode_debut\":\"" + IsoDay(p.from) +
               "\",\"periode_fin\":\"" + IsoDay(p.to - 1) +
               "\",\"duree_ms\":" + Number(a.periodDuration.totalMs) +
               ",\"cout_eur\":" + Number(a.periodCost) +
               ",\"forfait\":" + (a.packageEnabled ? "true" : "false") +
               ",\"forfait_restant_ms\":" +
               (a.packageEnabled ? Number(std::int64_t{a.packageRemaining.totalMs})
                                 : std::string("null")) +
               ",\"estimation_fin_periode_eur\":" + Number(EstimatedPeriodCost(a, r.now)) +
               ",\"derniere_connexion\":";
        if (const JournalRow* row = f.last)
            out +=
                "{\"debut\":" + JsonString(row->startLocal) +
                ",\"duree_ms\":" + Number(row->durationMs) + ",\"cout_eur\":" + Number(row->cost) +
                ",\"interrompue\":" + (row->end == JournalEnd::CutShort ? "true" : "false") + "}}";
        else
            out += "null}";
    }
    const OverallState o = OverallOf(r);
    out += "],\"total\":{\"duree_ms\":" + Number(o.overallDuration.totalMs) +
           ",\"cout_eur\":" + Number(o.overallCost) + "}";
    out += ",\"connexion_en_cours\":";
    if (online) {
        const SessionState& s = *r.live;
        out += "{\"compte\":" + JsonString(s.account) + ",\"duree_ms\":" + Number(s.connectionMs) +
               ",\"cout_eur\":" + Number(s.connectionCost) + ",\"tarif\":\"" +
               (s.rateIcon == 2 ? "reduit" : RateName(s.rateIcon)) + "\"}";
    } else {
        out += "null";
    }
    return out + "}\n";
}

namespace {

// Bytes a line of the state cannot carry as they are.
bool IsEscaped(unsigned char c) {
    return c < 0x20 || c == '%' || c == 0x7F;
}

}  // namespace

std::string StateText(const SessionState& s, const std::string& folder) {
    return "etat 1\ndossier=" + PercentEscaped(folder, IsEscaped) +
           "\nen_ligne=" + (s.online ? "1" : "0") +
           "\ncompte=" + PercentEscaped(s.account, IsEscaped) +
           "\nconnexion_ms=" + Number(s.connectionMs) +
           "\nconnexion_cout=" + Number(s.connectionCost) +
           "\ntarif=" + std::to_string(s.rateIcon) + "\nperiode_ms=" + Number(s.periodMs) +
           "\nperiode_cout=" + Number(s.periodCost) +
           "\nforfait=" + (s.packageEnabled ? "1" : "0") +
           "\nforfait_restant_ms=" + Number(s.packageLeftMs) +
           "\nfin_periode=" + Number(s.periodEnd) + "\ntotal_ms=" + Number(s.overallMs) +
           "\ntotal_cout=" + Number(s.overallCost) + "\nfin\n";
}

std::optional<SessionState> ParseStateText(std::string_view text, std::string& folder) {
    SessionState s;
    std::map<std::string_view, std::string_view> values;
    bool first = true, ended = false;
    while (!text.empty() && !ended) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;  // cut short
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (first) {
            if (line != "etat 1") return std::nullopt;
            first = false;
        } else if (line == "fin") {
            ended = true;
        } else if (const auto eq = line.find('='); eq != std::string_view::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    if (!ended) return std::nullopt;
    auto flag = [&](std::string_view key, bool& out) {
        const auto it = values.find(key);
        if (it == values.end() || (it->second != "0" && it->second != "1")) return false;
        out = it->second == "1";
        return true;
    };
    auto number = [&](std::string_view key, auto& out) {
        const auto it = values.find(key);
        return it != values.end() && ReadField(it->second, out);
    };
    auto text_ = [&](std::string_view key, std::string& out) {
        const auto it = values.find(key);
        if (it == values.end()) return false;
        auto v = PercentUnescaped(it->second);
        if (v) out = *v;
        return v.has_value();
    };
    unsigned rate = 0;
    if (!text_("dossier", folder) || !flag("en_ligne", s.online) || !text_("compte", s.account) ||
        !number("connexion_ms", s.connectionMs) || !number("connexion_cout", s.connectionCost) ||
        !number("tarif", rate) || rate > 3 || !number("periode_ms", s.periodMs) ||
        !number("periode_cout", s.periodCost) || !flag("forfait", s.packageEnabled) ||
        !number("forfait_restant_ms", s.packageLeftMs) || !number("fin_periode", s.periodEnd) ||
        !std::isfinite(s.periodEnd) || !number("total_ms", s.overallMs) ||
        !number("total_cout", s.overallCost))
        return std::nullopt;
    s.rateIcon = static_cast<std::uint8_t>(rate);
    return s;
}

}  // namespace tallimer
