#pragma once
// Where the program keeps its data. Beside the executable when that folder is the user's
// own (writable and holding the invoice template: the build's app folder, a per-user
// install); otherwise, as for a system install, the user's data folder, laid out at the
// first start from the shipped files.
#include <string>

namespace tallimer {

struct DataFolderChoice {
    std::string folder;   // with its trailing separator
    std::string shipped;  // where base.rtf and the help come from; empty when beside the program
};

// programFolder: the executable's folder. xdgDataHome and home: the environment's values,
// possibly empty; a relative XDG_DATA_HOME is ignored, as the base directory rules say.
DataFolderChoice ChooseDataFolder(const std::string& programFolder, const std::string& xdgDataHome,
                                  const std::string& home);

// Creates the data folder with "Comptes" and "Factures", copies base.rtf from the shipped
// folder when the data folder has none (the user's own template is never replaced) and
// brings the help up to date. Nothing is reported: a missing template shows where it is used.
void PrepareDataFolder(const DataFolderChoice& choice);

}  // namespace tallimer
