// What one metering tick costs, its display refresh included, while the window is hidden in
// the notification area, its normal state while metering: for an account billed by time, and
// for one billed by volume, whose icon's hint changes each second.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include "metering/Volume.h"
#include "platform/SystemClock.h"
#include "shell/HeadlessTray.h"
#include "windows/FNPrinc.h"

namespace {

class NoName : public tallimer::ConnectionNameSource {
  public:
    std::string defaultConnectionName() override { return "Modem"; }
};

class NoCounters : public tallimer::LinkCounterSource {
  public:
    std::optional<tallimer::LinkCounters> read() override { return std::nullopt; }
};

// The system's calendar, with a second passing between two ticks.
class SecondPerTick : public tallimer::Clock {
  public:
    std::int32_t utcMsOfDay() const override { return tallimer::TheSystemClock().utcMsOfDay(); }
    tallimer::LocalDateTime localNow() const override {
        return tallimer::TheSystemClock().localNow();
    }
    std::int64_t monotonicMs() const override { return mono_ += 1000; }

  private:
    mutable std::int64_t mono_ = 0;
};

// through: the meter's tick alone, or the session's (what follows it: the volume alerts' look).
void TickHidden(benchmark::State& state, bool byVolume, bool throughSession = false) {
    QTemporaryDir folder;
    if (byVolume) {
        tallimer::VolumeBook book;
        tallimer::SetVolumeTariff(book, "Modem", {}, {tallimer::kMo, 2, 0, true, false});
        tallimer::SaveVolumeBook(folder.path().toStdString() + "/" + tallimer::kVolumeFile, book);
    }
    SecondPerTick clock;
    NoName names;
    NoCounters counters;
    tallimer::HeadlessTray tray;
    tallimer::PrincDependencies d;
    d.appFolder = folder.path().toStdString() + "/";
    d.clock = &clock;
    d.names = &names;
    d.counters = &counters;
    d.trayShell = &tray;
    d.hostAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
    tallimer::TfPrinc window(d);
    window.OnlineIP1->SetEnabled(false);
    tallimer::Meter& m = window.meter();
    m.Connect();
    if (throughSession)
        for (auto _ : state) window.session().tick();
    else
        for (auto _ : state) m.TimerTick();
}
void BM_TickHidden(benchmark::State& state) {
    TickHidden(state, false);
}
BENCHMARK(BM_TickHidden);
void BM_TickHiddenVolume(benchmark::State& state) {
    TickHidden(state, true);
}
BENCHMARK(BM_TickHiddenVolume);
void BM_SessionTickHiddenVolume(benchmark::State& state) {
    TickHidden(state, true, true);
}
BENCHMARK(BM_SessionTickHiddenVolume);

}  // namespace
