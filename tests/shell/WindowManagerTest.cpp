// The real program on an X server under openbox, which puts a minimize button on every
// window, and with no window manager at all: minimizing sends the window to the notification
// area and leaves no empty frame behind; a second start shows it again. Leaves pictures of
// the desktop and of the small dialogs with their title bars in the build's artefacts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/common/Fakes.h"

namespace fs = std::filesystem;

namespace {

bool Have(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

using tallimer::test::BuildDir;
using tallimer::test::Env;

TEST(WindowManager, MinimizeHidesIntoTheNotificationAreaWithAndWithoutAManager) {
    for (const char* tool :
         {"xvfb-run", "xauth", "trayer", "xdotool", "xwininfo", "xprop", "import", "openbox"})
        if (!Have(tool)) GTEST_SKIP() << tool << " is not installed";
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
        const fs::path app = dir.path() / "app";
        fs::create_directories(app);
        fs::copy(source / "data", app, fs::copy_options::recursive);
        fs::copy_file(program, app / "tallimer");
        const fs::path out = dir.path() / "scenario.out";
        const std::string command = "timeout 150 xvfb-run -a -s '-screen 0 1024x768x24' bash '" +
                                    (source / "tests/shell/wm-scenario.sh").string() + "' '" +
                                    app.string() + "' '" + artefacts.string() + "' " + wm + " '" +
                                    showDialog.string() + "' >'" + out.string() + "' 2>&1";
        const int status = std::system(command.c_str());
        std::ostringstream text;
        text << std::ifstream(out).rdbuf();
        const std::string log = text.str();
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
