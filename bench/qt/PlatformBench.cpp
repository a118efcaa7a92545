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

// As the detector polls: one reader, its socket kept open.
void BM_HostAddressReader(benchmark::State& state) {
    tallimer::HostAddressReader reader;
    for (auto _ : state) benchmark::DoNotOptimize(reader.read());
}
BENCHMARK(BM_HostAddressReader);

void BM_DetectorPoll(benchmark::State& state) {
    tallimer::TOnlineIP detector;
    detector.SetEnabled(false);
    for (auto _ : state) {
        detector.Poll();
        benchmark::DoNotOptimize(detector.Online());
    }
}
BENCHMARK(BM_DetectorPoll);

// One reading within a connection, its link already found.
void BM_LinkCountersRead(benchmark::State& state) {
    tallimer::LinkCountersLinux source;
    source.connectionStarted();
    for (auto _ : state) benchmark::DoNotOptimize(source.read());
}
BENCHMARK(BM_LinkCountersRead);

}  // namespace
