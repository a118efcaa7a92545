// What the detector and the throughput readout cost on this machine: one poll of the
// address list, one reading of the link counters.
#include <benchmark/benchmark.h>

#include "controls/Onlineip.h"
#include "platform/HostAddresses.h"
#include "platform/LinkCountersLinux.h"

namespace {

void BM_HostAddresses(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(tallimer::HostAddresses());
}
BENCHMARK(BM_HostAddresses);

void BM_DetectorPoll(benchmark::State& state) {
    tallimer::TOnlineIP detector;
    detector.SetEnabled(false);
    for (auto _ : state) {
        detector.Poll();
        benchmark::DoNotOptimize(detector.Online());
    }
}
BENCHMARK(BM_DetectorPoll);

void BM_LinkCountersRead(benchmark::State& state) {
    tallimer::LinkCountersLinux source;
    for (auto _ : state) benchmark::DoNotOptimize(source.read());
}
BENCHMARK(BM_LinkCountersRead);

}  // namespace
