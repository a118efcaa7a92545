#include "tests/common/XvfbRun.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/common/Fakes.h"

namespace fs = std::filesystem;

namespace tallimer::test {

std::string MissingTool(std::initializer_list<const char*> tools) {
    for (const char* tool : tools)
        if (std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) != 0)
            return tool;
    return {};
}

fs::path LayOutProgram(const fs::path& folder, const fs::path& program) {
    const fs::path app = folder / "app";
    fs::create_directories(app);
    fs::copy(fs::path(Env("TALLIMER_SOURCE_DIR")) / "data", app, fs::copy_options::recursive);
    fs::copy_file(program, app / "tallimer");
    return app;
}

ScenarioRun RunUnderXvfb(int seconds, const fs::path& script, const std::vector<std::string>& args,
                         const fs::path& out, const std::string& runner) {
    std::string command = "timeout " + std::to_string(seconds) +
                          " xvfb-run -a -s '-screen 0 1024x768x24' " +
                          (runner.empty() ? "" : runner + " ") + "bash '" + script.string() + "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    command += " >'" + out.string() + "' 2>&1";
    ScenarioRun run;
    run.status = std::system(command.c_str());
    std::ostringstream text;
    text << std::ifstream(out).rdbuf();
    run.log = text.str();
    return run;
}

}  // namespace tallimer::test
