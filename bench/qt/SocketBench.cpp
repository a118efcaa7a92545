// What telling the applications' bytes apart costs on this machine, with 200 TCP sockets of
// this process open: one look again at them (each second while the link moves), one walk of
// the kernel's whole table (when bytes are left unexplained), and the meter's share of a
// second in which the link moved bytes: those of one socket, or bytes no socket explains (UDP),
// for which the quiet sockets and the table are looked at one second in 64.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "metering/AppVolume.h"
#include "platform/SocketCountersLinux.h"

namespace {

// 100 connections on the loopback: 200 sockets, closed at the end.
class OpenSockets {
  public:
    OpenSockets() {
        const int server = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(server, 128);
        socklen_t size = sizeof a;
        getsockname(server, reinterpret_cast<sockaddr*>(&a), &size);
        for (int i = 0; i < 100; ++i) {
            const int c = socket(AF_INET, SOCK_STREAM, 0);
            connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fds_.push_back(c);
            fds_.push_back(accept(server, nullptr, nullptr));
        }
        close(server);
    }
    ~OpenSockets() {
        for (int fd : fds_) close(fd);
    }
    // The first connection's two ends.
    std::pair<int, int> pair() const { return {fds_[0], fds_[1]}; }

  private:
    std::vector<int> fds_;
};

std::vector<tallimer::SocketId> Ours(tallimer::SocketCountersLinux& source) {
    std::vector<tallimer::SocketId> ids;
    const std::optional<tallimer::SocketTable> table = source.readAll();
    for (const tallimer::SocketCounters& s : table->sockets)
        if (s.id.local.family == 4 && s.id.local.bytes[0] == 127) ids.push_back(s.id);
    return ids;
}

void BM_SocketsReadAgain200(benchmark::State& state) {
    OpenSockets open;
    tallimer::SocketCountersLinux source;
    const std::vector<tallimer::SocketId> ids = Ours(source);
    for (auto _ : state) benchmark::DoNotOptimize(source.readAgain(ids));
    state.counters["sockets"] = static_cast<double>(ids.size());
}
BENCHMARK(BM_SocketsReadAgain200);

void BM_SocketsWalk200(benchmark::State& state) {
    OpenSockets open;
    tallimer::SocketCountersLinux source;
    for (auto _ : state) benchmark::DoNotOptimize(source.readAll());
}
BENCHMARK(BM_SocketsWalk200);

// The sockets as the link's own: a second of a volume account in which the link moved and
// the sockets explain it, through the meter that shares the bytes out.
class LoopbackLink : public tallimer::SocketCounterSource {
  public:
    tallimer::SocketCountersLinux real;
    std::optional<tallimer::SocketTable> readAll() override {
        auto table = real.readAll();
        if (table) table->link = {{loopback(), 8}};
        return table;
    }
    std::optional<std::vector<tallimer::SocketCounters>> readAgain(
        const std::vector<tallimer::SocketId>& ids) override {
        return real.readAgain(ids);
    }
    static tallimer::IpAddress loopback() {
        tallimer::IpAddress a;
        a.family = 4;
        a.bytes[0] = 127;
        a.bytes[3] = 1;
        return a;
    }
};

class NoPrice : public tallimer::VolumeCharge {
  public:
    void connectionStarted(const std::string&, const tallimer::Account&, bool) override {}
    float charge(const std::string&, const tallimer::Account&, std::uint64_t, std::uint64_t,
                 const tallimer::CalendarReading&) override {
        return 0;
    }
};

// A volume account's connection over 200 open sockets taken as the link's.
struct Connection {
    Connection() {
        book["4G"];
        meter.connectionStarted("4G", account, false);
    }
    float second(std::uint64_t received) { return meter.charge("4G", account, received, 0, {}); }
    OpenSockets open;
    LoopbackLink sockets;
    tallimer::VolumeBook book;
    NoPrice price;
    tallimer::Account account;
    tallimer::AppVolumeMeter meter{price, book, &sockets};
};

// A second in which one of the sockets moved 64 KiB and explains the link's bytes: the moving
// socket alone is looked at again. The bytes' own way through the loopback is left out.
void BM_AppVolumeSecondExplained200(benchmark::State& state) {
    Connection c;
    const std::string bytes(65536, 'x');
    std::string sink(65536, 0);
    for (auto _ : state) {
        state.PauseTiming();
        send(c.open.pair().first, bytes.data(), bytes.size(), 0);
        for (std::size_t got = 0; got < bytes.size();)
            got +=
                static_cast<std::size_t>(recv(c.open.pair().second, sink.data(), sink.size(), 0));
        state.ResumeTiming();
        benchmark::DoNotOptimize(c.second(65536));
    }
}
BENCHMARK(BM_AppVolumeSecondExplained200);

// A second of bytes no socket explains (UDP).
void BM_AppVolumeSecond200(benchmark::State& state) {
    Connection c;
    for (auto _ : state) benchmark::DoNotOptimize(c.second(200000));
}
BENCHMARK(BM_AppVolumeSecond200);

}  // namespace
