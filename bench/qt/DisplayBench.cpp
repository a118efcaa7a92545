// What one display refresh costs while the window is hidden in the notification area, its
// normal state while metering.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include "controls/Trayicon.h"
#include "platform/SystemClock.h"
#include "shell/FNPrinc.h"

namespace {

class NoName : public tallimer::ConnectionNameSource {
  public:
    std::string defaultConnectionName() override { return "Modem"; }
};

class NoCounters : public tallimer::LinkCounterSource {
  public:
    std::optional<tallimer::LinkCounters> read() override { return std::nullopt; }
};

class QuietTray : public tallimer::TrayShell {
  public:
    bool add(const QIcon&, const QString&) override { return true; }
    bool modify(const QIcon&, const QString&) override { return true; }
    bool remove() override { return true; }
    void popupMenu(QMenu*, QPoint) override {}
    QPoint cursorPos() const override { return {}; }
    Qt::KeyboardModifiers modifiers() const override { return {}; }
};

void BM_RefreshHidden(benchmark::State& state) {
    QTemporaryDir folder;
    NoName names;
    NoCounters counters;
    QuietTray tray;
    tallimer::PrincDependencies d;
    d.appFolder = folder.path().toStdString() + "/";
    d.clock = &tallimer::TheSystemClock();
    d.names = &names;
    d.counters = &counters;
    d.trayShell = &tray;
    d.hostAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
    tallimer::TfPrinc window(d);
    window.OnlineIP1->SetEnabled(false);
    tallimer::Meter& m = window.meter();
    m.currentAccount = &window.accounts().findOrCreate("Modem");
    for (auto _ : state) {
        // Every figure moves, as in a metered second.
        m.connectionDuration = m.connectionDuration.totalMs + 1000;
        m.overallDuration = m.overallDuration.totalMs + 1000;
        m.currentAccount->periodDuration = m.currentAccount->periodDuration.totalMs + 1000;
        m.connectionCost += 0.01f;
        m.overallCost += 0.01f;
        m.currentAccount->periodCost += 0.01f;
        window.RefreshDisplay();
    }
}
BENCHMARK(BM_RefreshHidden);

}  // namespace
