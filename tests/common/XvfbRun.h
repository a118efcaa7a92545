#pragma once
// The real program run by a scenario script on a fresh X server, as the window tests do it.
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace tallimer::test {

// The tools a scenario under Xvfb with a tray host and a window manager needs.
inline constexpr std::initializer_list<const char*> kXvfbTools = {
    "xvfb-run", "xauth", "trayer", "xdotool", "xwininfo", "xprop", "import", "openbox"};

// The first of the tools that is not installed; empty when all are.
std::string MissingTool(std::initializer_list<const char*> tools);

// A copy of the built program beside the data it ships with, in folder/app, as the build lays
// it out; its path is returned.
std::filesystem::path LayOutProgram(const std::filesystem::path& folder,
                                    const std::filesystem::path& program);

struct ScenarioRun {
    int status = 0;
    std::string log;  // everything the script printed
};

// Runs `bash script args...` under xvfb-run on a free display (1024x768, 24 bits), killed
// after `seconds`; its output goes through the file `out`. `runner`, when given, is the
// command that runs bash there (a private session bus: "dbus-run-session --").
ScenarioRun RunUnderXvfb(int seconds, const std::filesystem::path& script,
                         const std::vector<std::string>& args, const std::filesystem::path& out,
                         const std::string& runner = {});

}  // namespace tallimer::test
