#pragma once
// The statistics window as the main window uses it. The window itself lives in a module loaded
// at its first opening, so the program does not carry the chart libraries at every start.
#include <QString>
#include <functional>
#include <string>

#include "accounts/Comptes.h"
#include "metering/Alerts.h"
#include "metering/Journal.h"
#include "metering/Volume.h"
#include "support/Locale.h"

class QWidget;

namespace tallimer {

class StatsView {
  public:
    virtual ~StatsView() = default;
    // The alert settings of every account, edited there for the chosen one; save writes them.
    virtual void SetAlertSettings(AlertSettings* settings, std::function<bool()> save) = 0;
    // The volume tariffs of every account, set there with the alerts; save writes them. Where
    // the link says it is metered, the current account is offered one; null: never.
    virtual void SetVolumeBook(VolumeBook* book, std::function<bool()> save,
                               MeteredLinkSource* link) = 0;
    // Reads the account's rows from the journal (none when it is null) and shows them.
    virtual void Prepare(ConnectionJournal* journal, const AccountCollection& accounts,
                         const std::string& currentAccount, DateTime now, const Locale& locale) = 0;
    // Shown, raised and given the focus.
    virtual void Open() = 0;
};

// Makes the window as a child of parent (which owns it); null, with why in French, when it
// cannot.
using StatsFactory = std::function<StatsView*(QWidget* parent, QString& why)>;

// What the module exports, under kStatsModuleSymbol. The symbol's type never changes, so a
// module of any build can be asked: it answers its entry only for the caller's stamp, and the
// caller checks the stamp of what it got before using anything else.
struct StatsModuleEntry {
    const char* stamp;
    StatsView* (*make)(QWidget* parent);
};
using StatsModuleLookup = const StatsModuleEntry* (*)(const char* callerStamp);
inline constexpr const char* kStatsModuleSymbol = "tallimer_stats_module";

}  // namespace tallimer
