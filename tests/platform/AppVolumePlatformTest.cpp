// Each application's bytes on this machine: the kernel's counters of this program's own
// sockets, the processes found in a /proc tree, and the journal's table of them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QThread>
#include <filesystem>

#include "metering/AppVolume.h"
#include "metering/JournalStats.h"
#include "platform/JournalSqlite.h"
#include "platform/SocketCountersLinux.h"
#include "support/FileWrite.h"
#include "tests/common/Fakes.h"

using namespace tallimer;
using tallimer::test::ReadFile;
using tallimer::test::TempDir;
using tallimer::test::WriteFile;
namespace fs = std::filesystem;

namespace tallimer {
void PrintTo(const AppVolumeRow& r, std::ostream* out) {
    *out << int(r.kind) << " " << r.app << " " << r.received << " " << r.sent;
}
}  // namespace tallimer

namespace {

std::uint16_t PortOf(int fd) {
    sockaddr_in a{};
    socklen_t size = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    return ntohs(a.sin_port);
}

void Move(int from, int to, std::size_t bytes) {
    std::string chunk(bytes, 'x');
    ASSERT_EQ(send(from, chunk.data(), chunk.size(), 0), static_cast<ssize_t>(bytes));
    for (std::size_t got = 0; got < bytes;) {
        const ssize_t n = recv(to, chunk.data(), chunk.size(), 0);
        ASSERT_GT(n, 0);
        got += static_cast<std::size_t>(n);
    }
}

// Asked again until the peer's acknowledgement of everything sent has come back.
std::optional<SocketCounters> Settled(SocketCountersLinux& source, const SocketId& id,
                                      std::uint64_t sent) {
    std::optional<SocketCounters> found;
    for (int i = 0; i < 500; ++i) {
        auto again = source.readAgain({id});
        found = again && !again->empty() ? std::optional(again->front()) : std::nullopt;
        if (!found || found->sent >= sent) break;
        QThread::msleep(10);
    }
    return found;
}

// The name this test program has: its desktop unit's, else its file's.
std::string OwnName() {
    std::string cgroup;
    ReadWholeFile("/proc/self/cgroup", cgroup);
    const std::string app = AppIdOfCgroup(cgroup);
    return app.empty() ? fs::read_symlink("/proc/self/exe").filename().string() : app;
}

TEST(SocketCountersLinux, TheKernelCountsEachOfThisProgramsSocketsAndNamesItsApplication) {
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(listen(server, 1), 0);
    any.sin_port = htons(PortOf(server));
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    const int accepted = accept(server, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    Move(client, accepted, 100000);
    Move(accepted, client, 5000);

    SocketCountersLinux source;
    const std::optional<SocketTable> table = source.readAll();
    ASSERT_TRUE(table);
    std::optional<SocketCounters> mine;
    for (const SocketCounters& s : table->sockets)
        if (s.id.localPort == PortOf(client) && s.id.peerPort == PortOf(server)) mine = s;
    ASSERT_TRUE(mine) << "the client's socket is not in the table";
    EXPECT_EQ(mine->app, OwnName());
    EXPECT_EQ(mine->id.local.family, 4);
    EXPECT_EQ(mine->received, 5000u);

    Move(client, accepted, 20000);
    const std::optional<SocketCounters> again = Settled(source, mine->id, 120000);
    ASSERT_TRUE(again);
    // The opening's SYN is acknowledged as one byte of its own.
    EXPECT_EQ(again->sent, 120000u + 1);
    EXPECT_EQ(again->received, 5000u);
    EXPECT_EQ(again->id.cookie, mine->id.cookie);

    // Gone, its ports taken at once by another socket: it is left out, and the other is not
    // taken for it.
    const linger reset{1, 0};  // closed without waiting in TIME_WAIT
    setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    from.sin_port = htons(PortOf(client));
    close(client);
    close(accepted);
    EXPECT_TRUE(source.readAgain({mine->id})->empty());
    const int successor = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(bind(successor, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    ASSERT_EQ(connect(successor, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    const int reaccepted = accept(server, nullptr, nullptr);
    EXPECT_TRUE(source.readAgain({mine->id})->empty());
    for (int fd : {successor, reaccepted, server}) close(fd);
}

// Processes in a /proc tree: a socket's process is named by its desktop unit, else by its
// program; a socket no process of the user's holds is nobody's.
TEST(SocketCountersLinux, ASocketsApplicationIsItsProcesssUnitElseItsProgram) {
    TempDir dir;
    const fs::path proc = dir.path() / "proc";
    auto process = [&](const std::string& pid, const std::string& cgroup, int fd,
                       std::uint64_t inode) {
        fs::create_directories(proc / pid / "fd");
        WriteFile(proc / pid / "cgroup", cgroup);
        fs::create_symlink("/usr/bin/wget (deleted)", proc / pid / "exe");
        fs::create_symlink("pipe:[5]", proc / pid / "fd" / "0");
        fs::create_symlink("socket:[" + std::to_string(inode) + "]",
                           proc / pid / "fd" / std::to_string(fd));
    };
    process("4242", "0::/user.slice/app.slice/app-flatpak-org.example.Mail-12.scope\n", 7, 99);
    process("4243", "0::/user.slice/session.slice/vte-spawn-3.scope\n", 3, 100);
    process("4244", "0::/\n", 4, 101);
    const bool root = geteuid() == 0;
    if (root) {  // another user's process
        ASSERT_EQ(lchown((proc / "4244").c_str(), 65534, 65534), 0);
    }

    SocketCountersLinux source(proc.string());
    auto apps = source.appsOf({99, 100, 101, 102});
    EXPECT_EQ(apps[99], "org.example.Mail");
    EXPECT_EQ(apps[100], "wget");
    if (root) {
        EXPECT_EQ(apps[101], "");
    }
    EXPECT_EQ(apps[102], "");
    EXPECT_EQ(apps.size(), 4u);
}

JournalRow Row(const std::string& account, const std::string& start) {
    JournalRow r;
    r.account = account;
    r.startLocal = start;
    r.startUtc = start + "Z";
    r.durationMs = 1000;
    return r;
}

// The rows of each connection, kept again at each save, are summed over a billing period;
// a journal from before them reads as having none and gains their table on opening.
TEST(AppVolumeJournal, EachConnectionsRowsAreSummedPerPeriodAndAnOlderJournalGainsThem) {
    TempDir dir;
    const std::string path = dir.str() + "journal.sqlite";
    using K = AppRowKind;
    {
        SqliteJournal journal(path);
        const std::int64_t first = journal.open(Row("4G", "2001-03-02T10:00:00"));
        const std::int64_t second = journal.open(Row("4G", "2001-03-31T23:59:59"));
        const std::int64_t april = journal.open(Row("4G", "2001-04-01T00:00:00"));
        const std::int64_t other = journal.open(Row("Fibre", "2001-03-05T08:00:00"));
        journal.keepAppVolumes(first, {{K::Application, "firefox", 1, 1}});  // the minute save
        journal.keepAppVolumes(first, {{K::Application, "firefox", 700, 20},
                                       {K::Application, "org.example.Mail", 300, 900},
                                       {K::Others, "", 50, 5}});
        journal.keepAppVolumes(
            second, {{K::Application, "firefox", 400, 10}, {K::LocalNetwork, "", 5000, 6000}});
        journal.keepAppVolumes(april, {{K::Application, "firefox", 9, 9}});
        journal.keepAppVolumes(other, {{K::Application, "steam", 99999, 0}});
        EXPECT_EQ(journal.takeError(), "");
    }
    StatsPeriod march;
    march.kind = StatsPeriodKind::Billing;
    march.from = EncodeDate(2001, 3, 1);
    march.to = EncodeDate(2001, 4, 1);
    const std::vector<AppVolumeRow> expected{{K::Application, "org.example.Mail", 300, 900},
                                             {K::Application, "firefox", 1100, 30},
                                             {K::Others, "", 50, 5},
                                             {K::LocalNetwork, "", 5000, 6000}};
    SqliteJournal reopened(path);
    EXPECT_EQ(PeriodAppVolumes(reopened, "4G", march), expected);
    std::vector<AppVolumeRow> read = ReadAppVolumes(path, {"4G", "2001-03-01", "2001-04-01"});
    RankAppVolumes(read);
    EXPECT_EQ(read, expected);
    StatsPeriod all;
    EXPECT_EQ(PeriodAppVolumes(reopened, "4G", all)[1],
              (AppVolumeRow{K::Application, "firefox", 1109, 39}));

    sqlite3* old = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &old), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(old, "DROP TABLE app_volumes; VACUUM", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(old);
    const std::string bytes = ReadFile(path);
    EXPECT_TRUE(ReadAppVolumes(path, {"4G", {}, {}}).empty());
    EXPECT_EQ(ReadFile(path), bytes);
    {
        SqliteJournal journal(path);
        EXPECT_TRUE(journal.appVolumes({}).empty());
        journal.keepAppVolumes(1, {{K::Others, "", 8, 8}});
        EXPECT_EQ(journal.takeError(), "");
    }
    EXPECT_EQ(ReadAppVolumes(path, {}), (std::vector<AppVolumeRow>{{K::Others, "", 8, 8}}));
}

}  // namespace
