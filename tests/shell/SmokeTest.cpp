// The real program on an X server: without a notification area it stays an ordinary window
// that minimizes to the taskbar and meters, and its icon joins a tray host started later;
// with a tray host from the start it hides after its first show, its icon
// is in the notification area, the icon's menu restores it, a second start shows it and
// ends with code 0, and SIGTERM ends it with its files written. Leaves a screenshot of the
// window under a French locale, with and without a notification area, in the build's
// artefacts folder.
#include <gtest/gtest.h>

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
using tallimer::test::LayOutProgram;
using tallimer::test::MissingTool;

TEST(Smoke, ProgramUnderXvfbWithATrayHost) {
    if (const std::string tool = MissingTool(tallimer::test::kXvfbTools); !tool.empty())
        GTEST_SKIP() << tool << " is not installed";
    const fs::path source = Env("TALLIMER_SOURCE_DIR");
    const fs::path build = BuildDir();
    const fs::path program = build / "app" / "tallimer";
    if (!fs::exists(program)) GTEST_SKIP() << "the program is not built: " << program;

    // The program's own folder, as it is laid out beside the build's.
    tallimer::test::TempDir dir;
    const fs::path app = LayOutProgram(dir.path(), program);
    const fs::path artefacts = build / "artefacts";
    fs::create_directories(artefacts);

    const auto [status, log] = tallimer::test::RunUnderXvfb(
        120, source / "tests/shell/smoke-scenario.sh", {app.string(), artefacts.string()},
        dir.path() / "scenario.out");
    EXPECT_EQ(status, 0) << log;
    for (const char* step : {"no-tray", "tray-later", "no-tray-meter", "hidden", "tray-icon",
                             "menu", "restore", "screenshot", "sigterm", "second-start"})
        EXPECT_NE(log.find(std::string("ok ") + step + "\n"), std::string::npos)
            << "step " << step << ":\n"
            << log;
    EXPECT_TRUE(fs::exists(app / "tallimer.inf"));
    EXPECT_TRUE(fs::exists(artefacts / "main-window-fr.png"));
    EXPECT_TRUE(fs::exists(artefacts / "no-tray-window.png"));
    std::cout << log.substr(0, log.find('\n')) << "\n";  // the start-up time
}

}  // namespace

namespace {

// On Wayland, under a compositor with no screen: there is no notification area, so the
// program starts as an ordinary window, keeps it shown and meters.
TEST(Smoke, ProgramOnWaylandUnderAHeadlessCompositor) {
    if (!MissingTool({"weston"}).empty()) GTEST_SKIP() << "weston is not installed";
    const fs::path source = Env("TALLIMER_SOURCE_DIR");
    const fs::path program = BuildDir() / "app" / "tallimer";
    if (!fs::exists(program)) GTEST_SKIP() << "the program is not built: " << program;
    tallimer::test::TempDir dir;
    const fs::path app = LayOutProgram(dir.path(), program);

    const fs::path out = dir.path() / "scenario.out";
    const std::string command = "timeout 60 bash '" +
                                (source / "tests/shell/wayland-scenario.sh").string() + "' '" +
                                app.string() + "' >'" + out.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::ostringstream text;
    text << std::ifstream(out).rdbuf();
    const std::string log = text.str();
    if (log.rfind("skip: ", 0) == 0) GTEST_SKIP() << log;
    EXPECT_EQ(status, 0) << log;
    for (const char* step : {"window", "meter"})
        EXPECT_NE(log.find(std::string("ok ") + step + "\n"), std::string::npos)
            << "step " << step << ":\n"
            << log;
}

}  // namespace

namespace {

// A budget alert under a real notification daemon (dunst) on a private session bus, on an
// X server with the notification area of the mode. Fails the test unless every step passed
// and the picture was left in the build's artefacts.
void RunNotifyScenario(const std::string& mode, std::initializer_list<const char*> steps,
                       const char* picture) {
    if (const std::string tool =
            MissingTool({"xvfb-run", "xauth", "import", "xdotool", "xwininfo", "trayer", "dunst",
                         "dunstctl", "dbus-run-session", "dbus-daemon", "gdbus"});
        !tool.empty())
        GTEST_SKIP() << tool << " is not installed";
    if (std::system("/usr/bin/python3 -c 'from gi.repository import Gio' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-gi is not installed";
    const fs::path source = Env("TALLIMER_SOURCE_DIR");
    const fs::path build = BuildDir();
    const fs::path program = build / "app" / "tallimer";
    if (!fs::exists(program)) GTEST_SKIP() << "the program is not built: " << program;
    tallimer::test::TempDir dir;
    const fs::path app = LayOutProgram(dir.path(), program);
    const fs::path artefacts = build / "artefacts";
    fs::create_directories(artefacts);
    fs::remove(artefacts / picture);

    const auto [status, log] = tallimer::test::RunUnderXvfb(
        240, source / "tests/shell/notify-scenario.sh", {app.string(), artefacts.string(), mode},
        dir.path() / "scenario.out", "dbus-run-session --");
    if (log.find("\nskip: ") != std::string::npos || log.rfind("skip: ", 0) == 0)
        GTEST_SKIP() << log;
    EXPECT_EQ(status, 0) << log;
    for (const char* step : steps)
        EXPECT_NE(log.find(std::string("ok ") + step + "\n"), std::string::npos)
            << "step " << step << ":\n"
            << log;
    EXPECT_TRUE(fs::exists(artefacts / picture));
}

// Without a notification area the alert goes to the desktop's notification service: the
// daemon receives it once, word for word, accents and euro sign included, and not again
// after a restart.
TEST(Smoke, BudgetAlertWithoutANotificationAreaReachesTheDaemonOnce) {
    RunNotifyScenario("no-tray", {"alert", "screenshot", "once"}, "budget-notification.png");
}

// Beside an XEmbed icon (trayer) Qt draws the message itself: the daemon hears nothing.
TEST(Smoke, BudgetAlertBesideAnXEmbedIconIsQtsOwnBalloon) {
    RunNotifyScenario("xembed", {"alert", "screenshot"}, "budget-notification-tray.png");
}

// Where the notification area speaks StatusNotifier, the icon's message reaches the daemon.
TEST(Smoke, BudgetAlertFromAStatusNotifierIconReachesTheDaemon) {
    RunNotifyScenario("sni", {"alert", "screenshot"}, "budget-notification-sni.png");
}

}  // namespace
