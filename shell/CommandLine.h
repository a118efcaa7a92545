#pragma once
// The command line for scripts and status bars: `--rapport` (and `--json`), `--ligne`,
// `--help`. Decided before any display is asked for; these read the files, the journal and
// the running copy's state, write nothing and take no lock.
#include <iosfwd>
#include <string>
#include <vector>

#include "support/Clock.h"

namespace tallimer {

enum class CommandKind { Window, Report, ReportJson, Line, Help, Bad };

struct Command {
    CommandKind kind = CommandKind::Window;
    std::string bad;  // the argument refused
};

// The program's own options start with "--" (or are "-h"); without any, the arguments are
// the toolkit's, given with one dash, and the window starts.
Command ParseCommand(const std::vector<std::string>& args);

struct CommandPlace {
    std::string dataFolder;            // with its trailing separator
    std::vector<std::string> sockets;  // where a running copy may listen, in order
};

// Exit codes: 0 done, 1 the data folder cannot be read, 2 a bad option.
int RunCommand(const Command& command, const CommandPlace& place, const Clock& clock,
               std::ostream& out, std::ostream& err);

}  // namespace tallimer
