#include "support/DataFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include "support/FileWrite.h"

namespace tallimer {

namespace {

std::string WithSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

bool IsFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The folder above an absolute one ("/usr/bin/" gives "/usr/"); "." and ".." taken as they
// come from the system, which gives the executable's folder without them.
std::string Parent(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("/") : path.substr(0, slash + 1);
}

// Copies through a sibling and a rename, so a crash never leaves half a template.
void CopyFile(const std::string& from, const std::string& to) {
    std::string bytes;
    if (ReadWholeFile(from, bytes)) WriteFileAtomically(to, bytes);
}

}  // namespace

DataFolderChoice ChooseDataFolder(const std::string& programFolder, const std::string& xdgDataHome,
                                  const std::string& home) {
    const std::string beside = WithSeparator(programFolder);
    if (IsFile(beside + "base.rtf") && ::access(beside.c_str(), W_OK) == 0) return {beside, {}};

    std::string base;
    if (!xdgDataHome.empty() && xdgDataHome.front() == '/')
        base = WithSeparator(xdgDataHome);
    else if (!home.empty())
        base = WithSeparator(home) + ".local/share/";
    else
        return {beside, {}};  // nowhere else to go
    // A system install: bin/tallimer beside share/tallimer/.
    return {base + "tallimer/", Parent(beside) + "share/tallimer/"};
}

void PrepareDataFolder(const DataFolderChoice& choice) {
    if (choice.shipped.empty()) return;
    const std::string& folder = choice.folder;
    MakeFolder(folder + "Comptes");
    MakeFolder(folder + "Factures");
    const std::string& shipped = choice.shipped;
    struct stat st;
    if (::stat((folder + "base.rtf").c_str(), &st) != 0 && IsFile(shipped + "base.rtf"))
        CopyFile(shipped + "base.rtf", folder + "base.rtf");
    // The help is ours, not the user's: a newer package brings a newer one.
    std::string help;
    if (IsFile(shipped + "aide.html") && ReadWholeFile(shipped + "aide.html", help) &&
        !FileHolds(folder + "aide.html", help))
        WriteFileAtomically(folder + "aide.html", help);
}

}  // namespace tallimer
