// Going on line and off line for real: in a private network namespace, a link that comes up
// with an address starts a metered connection in the running program, and taking it down
// ends the connection with the time written to the account file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "tests/common/Fakes.h"
#include "tests/common/XvfbRun.h"

namespace fs = std::filesystem;

namespace {

using tallimer::test::BuildDir;
using tallimer::test::Env;

// Why the real program cannot be run in a private network namespace here; empty: it can.
std::string NamespaceRefused(std::initializer_list<const char*> tools) {
    if (geteuid() != 0) return "needs root for a private network namespace";
    if (const std::string tool = tallimer::test::MissingTool(tools); !tool.empty())
        return tool + " is not installed";
    // A container or a chroot may refuse the namespaces even to root.
    if (std::system("unshare -n -m true >/dev/null 2>&1") != 0)
        return "the machine refuses a private network namespace";
    if (!fs::exists(BuildDir() / "app" / "tallimer")) return "the program is not built";
    return {};
}

// Runs `bash tests/shell/SCRIPT ARG` in a private network and mount namespace, killed after
// `seconds`; its output goes through the file `out`.
tallimer::test::ScenarioRun RunInNamespace(int seconds, const std::string& script,
                                           const fs::path& arg, const fs::path& out) {
    const std::string command =
        "timeout " + std::to_string(seconds) + " unshare -n -m bash '" +
        (fs::path(Env("TALLIMER_SOURCE_DIR")) / "tests/shell" / script).string() + "' '" +
        arg.string() + "' >'" + out.string() + "' 2>&1";
    tallimer::test::ScenarioRun run;
    run.status = std::system(command.c_str());
    std::ostringstream text;
    text << std::ifstream(out).rdbuf();
    run.log = text.str();
    return run;
}

TEST(NetworkNamespace, LinkUpMetersLinkDownWritesTheTime) {
    if (const std::string why = NamespaceRefused({"unshare", "ip"}); !why.empty())
        GTEST_SKIP() << why;
    const fs::path source = Env("TALLIMER_SOURCE_DIR");
    const fs::path program = BuildDir() / "app" / "tallimer";

    tallimer::test::TempDir dir;
    fs::copy(source / "data", dir.path(), fs::copy_options::recursive);
    fs::copy_file(program, dir.path() / "tallimer");

    const auto [status, log] =
        RunInNamespace(60, "netns-scenario.sh", dir.path(), dir.path() / "scenario.out");
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "the machine refuses a private network namespace";
    ASSERT_EQ(status, 0) << log;
    for (const char* step :
         {"ok offline\n", "ok online\n", "ok address\n", "ok offline-again", "ok sigterm\n"})
        EXPECT_NE(log.find(step), std::string::npos) << step << "\n" << log;
    EXPECT_TRUE(fs::exists(dir.path() / "tallimer.inf"));
}

// The command line and the session bus while the program meters a real link, then stopped,
// with another user's lock and socket planted, NetworkManager stopped 3 s as the connection
// starts and sixteen idle clients on the socket: the right account at the right price, one
// line of JSON that waybar shows, the journal read in WAL mode without a lock or a byte written.
TEST(NetworkNamespace, TheCommandLineAndTheBusReadTheRunningSession) {
    if (const std::string why = NamespaceRefused({"unshare", "dbus-send", "setpriv", "strace"});
        !why.empty())
        GTEST_SKIP() << why;
    const fs::path program = BuildDir() / "app" / "tallimer";
    tallimer::test::TempDir dir;
    const fs::path app = tallimer::test::LayOutProgram(dir.path(), program);
    if (fs::exists(program.parent_path() / "libtallimer-stats.so"))
        fs::copy_file(program.parent_path() / "libtallimer-stats.so", app / "libtallimer-stats.so");
    const auto [status, log] =
        RunInNamespace(90, "report-scenario.sh", app, dir.path() / "scenario.out");
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "the machine refuses a private network namespace";
    ASSERT_EQ(status, 0) << log;
    for (const char* step :
         {"ok intruder\n", "ok slow-nm\n", "ok json\n", "ok waybar\n", "ok idle\n", "ok wal\n",
          "ok offline-again\n", "ok stopped\n", "ok schema\n"})
        EXPECT_NE(log.find(step), std::string::npos) << step << "\n" << log;
}

// A running invoice that cannot be written at a connection's end, with a tray host: the box
// waits for nobody, the next connection is metered, and SIGTERM ends the program within a
// second with its totals saved, though the user's settings dialog is open too.
TEST(NetworkNamespace, ABoxAtAConnectionsEndHoldsNeitherTheMeterNorTheEnd) {
    if (const std::string why = NamespaceRefused(tallimer::test::kXvfbTools); !why.empty())
        GTEST_SKIP() << why;
    const fs::path program = BuildDir() / "app" / "tallimer";
    tallimer::test::TempDir dir;
    const fs::path app = tallimer::test::LayOutProgram(dir.path(), program);
    const auto [status, log] = tallimer::test::RunUnderXvfb(
        90, fs::path(Env("TALLIMER_SOURCE_DIR")) / "tests/shell/nowait-scenario.sh", {app.string()},
        dir.path() / "scenario.out", "unshare -n -m");
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "the machine refuses a private network namespace";
    EXPECT_EQ(status, 0) << log;
    for (const char* step :
         {"ok start\n", "ok first\n", "ok second\n", "ok dialog\n", "ok sigterm "})
        EXPECT_NE(log.find(step), std::string::npos) << step << "\n" << log;
}

// A connection billed by volume over a real link: 3 MB sent to another namespace are in the
// journal within the link's own counters, priced in the invoice line, kept in volume.inf and
// shown in the icon's hint, read off the StatusNotifier item.
TEST(NetworkNamespace, AVolumeAccountsBytesAreCountedPricedAndShown) {
    if (const std::string why =
            NamespaceRefused({"xvfb-run", "xauth", "dbus-daemon", "gdbus", "nsenter"});
        !why.empty())
        GTEST_SKIP() << why;
    const fs::path program = BuildDir() / "app" / "tallimer";
    tallimer::test::TempDir dir;
    const fs::path app = tallimer::test::LayOutProgram(dir.path(), program);
    const auto [status, log] = tallimer::test::RunUnderXvfb(
        90, fs::path(Env("TALLIMER_SOURCE_DIR")) / "tests/shell/volume-scenario.sh",
        {app.string() + "/"}, dir.path() / "scenario.out", "unshare -n -m");
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "the machine refuses what the scenario needs\n" << log;
    EXPECT_EQ(status, 0) << log;
    for (const char* step : {"ok start\n", "ok online\n", "ok send\n", "ok hint\n", "ok offline\n",
                             "ok journal ", "ok invoice ", "ok volume.inf\n", "ok hint-volume\n"})
        EXPECT_NE(log.find(step), std::string::npos) << step << "\n" << log;
}

}  // namespace
