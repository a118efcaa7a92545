// The real program on an X server under openbox, which puts a minimize button on every
// window, and with no window manager at all: minimizing sends the window to the notification
// area and leaves no empty frame behind; a second start shows it again. Leaves pictures of
// the desktop and of the small dialogs with their title bars in the build's artefacts.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/common/Fakes.h"
#include "tests/common/XvfbRun.h"

namespace fs = std::filesystem;

namespace {

using tallimer::test::BuildDir;
using tallimer::test::Env;

TEST(WindowManager, MinimizeHidesIntoTheNotificationAreaWithAndWithoutAManager) {
    if (const std::string tool = tallimer::test::MissingTool(tallimer::test::kXvfbTools);
        !tool.empty())
        GTEST_SKIP() << tool << " is not installed";
    const fs::path source = Env("TALLIMER_SOURCE_DIR");
    const fs::path build = BuildDir();
    const fs::path program = build / "app" / "tallimer";
    const fs::path showDialog = build / "tests" / "show_dialog";
    if (!fs::exists(program) || !fs::exists(showDialog))
        GTEST_SKIP() << "the program is not built: " << program;
    const fs::path artefacts = build / "artefacts";
    fs::create_directories(artefacts);

    for (const std::string wm : {"openbox", "none"}) {
        tallimer::test::TempDir dir;
        const fs::path app = tallimer::test::LayOutProgram(dir.path(), program);
        const auto [status, log] = tallimer::test::RunUnderXvfb(
            150, source / "tests/shell/wm-scenario.sh",
            {app.string(), artefacts.string(), wm, showDialog.string()},
            dir.path() / "scenario.out");
        EXPECT_EQ(status, 0) << wm << ":\n" << log;
        for (const char* step : {"shown", "minimize", "restore"})
            EXPECT_NE(log.find(std::string("ok ") + step + "\n"), std::string::npos)
                << wm << ", step " << step << ":\n"
                << log;
    }
    EXPECT_TRUE(fs::exists(artefacts / "price-dialog-openbox.png"));
    EXPECT_TRUE(fs::exists(artefacts / "exit-confirmation-openbox.png"));
}

}  // namespace
