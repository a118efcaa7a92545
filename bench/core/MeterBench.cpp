// Cost of the one-second tick with every tariff rule in play, and of the amount text.
#include <benchmark/benchmark.h>

#include "metering/Meter.h"
#include "metering/Volume.h"
#include "support/NumberText.h"

namespace {

using namespace tallimer;

class BenchClock : public Clock {
  public:
    std::int32_t utc = 22 * 3600000;
    std::int64_t mono = 0;
    std::int32_t utcMsOfDay() const override { return utc; }
    std::int64_t monotonicMs() const override { return mono; }
    LocalDateTime localNow() const override { return {2001, 3, 7, 23, 0, 0, 0, 4}; }
};

struct NoName : ConnectionNameSource {
    std::string defaultConnectionName() override { return "Maison"; }
};

struct Counters : LinkCounterSource {
    std::uint32_t n = 0;
    std::optional<LinkCounters> read() override { return LinkCounters{n += 4096, n / 2}; }
};

// With a volume tariff, whose bytes cross the cap, priced and counted each tick.
void RunTicks(benchmark::State& state, bool volume) {
    BenchClock clock;
    AccountCollection accounts;
    NoName names;
    Counters counters;
    Locale locale = Locale::french();
    Meter meter(clock, accounts, names, counters, locale);
    Account& a = accounts.findOrCreate("Maison");
    a.nextInvoice = EncodeDate(2100, 1, 1);
    a.packageEnabled = true;  // package charged, used up: the priced path after the package test
    a.packageCharged = true;
    a.packageType = 1;
    a.packageRemaining = 0;
    a.reductionType = 0;
    a.primaliste = true;
    a.pricePerSecond = 0.0047f;
    VolumeBook book;
    VolumeMeter volumeMeter(book);
    if (volume) {
        book["Maison"].tariff = {20 * 1000 * kMo, 0.05f, 0, true, false};
        book["Maison"].periodBytes = 20 * 1000 * kMo - 1;
        meter.setVolumeCharge(&volumeMeter);
    }
    meter.Connect();
    for (auto _ : state) {
        clock.utc = (clock.utc + 1000) % 86400000;
        clock.mono += 1000;
        meter.TimerTick();
        benchmark::DoNotOptimize(meter.connectionCost);
    }
}

void BM_TimerTick(benchmark::State& state) {
    RunTicks(state, false);
}
BENCHMARK(BM_TimerTick);

void BM_TimerTickVolume(benchmark::State& state) {
    RunTicks(state, true);
}
BENCHMARK(BM_TimerTickVolume);

void BM_AmountText(benchmark::State& state) {
    Locale locale = Locale::french();
    float v = 1234.5678f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(AmountText(v, locale));
        v += 0.01f;
    }
}
BENCHMARK(BM_AmountText);

void BM_InvoiceAmountText(benchmark::State& state) {
    Locale locale = Locale::french();
    float v = 12.3456f;
    for (auto _ : state) benchmark::DoNotOptimize(InvoiceAmountText(v, locale));
}
BENCHMARK(BM_InvoiceAmountText);

}  // namespace
