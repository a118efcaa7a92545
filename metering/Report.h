#pragma once
// What `tallimer --rapport` and `tallimer --ligne` print: the accounts' periods from their
// files, each account's last connection from the journal, the overall totals and, when a copy
// runs, its session's state, which is fresher than the files for what it meters.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/AccountFiles.h"
#include "metering/Journal.h"
#include "metering/SessionState.h"
#include "support/Locale.h"

namespace tallimer {

struct ReportAccount {
    std::string name;
    Account account;
    std::vector<JournalRow> newest;  // the account's newest rows in the journal, newest first
};

struct Report {
    DateTime now = 0;                     // local
    std::vector<ReportAccount> accounts;  // the metered one too, even before its file exists
    OverallState overall;
    std::optional<SessionState> live;  // the running copy's, when one answered
    bool silent = false;               // a copy runs on this folder but did not answer
};

// What the line says of a copy that took the request and never answered: not off line.
inline constexpr const char* kSilentLine = "sans réponse";

// French text, one block per account, then the totals and the connection in progress.
std::string ReportText(const Report& report, const Locale& locale);
// The same for scripts and status bars (packaging/rapport.schema.json).
std::string ReportJson(const Report& report, const Locale& locale);
// « 00:12:34 · 1,23 € » while a copy meters, « hors ligne » otherwise.
std::string StatusLine(const std::optional<SessionState>& live, const Locale& locale);
// The notification-area icon's hint: « Le tallimer internet »; while a connection billed by
// volume is metered (volumeBytes given), its time, cost and volume on a second line.
std::string TrayHint(const SessionState& state, std::optional<std::uint64_t> volumeBytes,
                     const Locale& locale);

// "2026-12-07", the day of a local date.
std::string IsoDay(DateTime day);

// The state as the hand-over socket carries it: "key=value" lines in the C conventions,
// between "etat 1" and "fin", with the folder the copy keeps its data in.
std::string StateText(const SessionState& state, const std::string& folder);
// nullopt unless the whole answer is there and every value reads.
std::optional<SessionState> ParseStateText(std::string_view text, std::string& folder);

}  // namespace tallimer
