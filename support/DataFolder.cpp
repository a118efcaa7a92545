#include "support/DataFolder.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace tallimer {

namespace {

std::string WithSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

bool SameContent(const fs::path& a, const fs::path& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) return false;
    return std::equal(std::istreambuf_iterator<char>(fa), std::istreambuf_iterator<char>(),
                      std::istreambuf_iterator<char>(fb), std::istreambuf_iterator<char>());
}

// Copies through a sibling and a rename, so a crash never leaves half a template.
void CopyFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    const fs::path part = to.string() + ".part";
    fs::copy_file(from, part, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(part, to, ec);
    if (ec) fs::remove(part, ec);
}

}  // namespace

DataFolderChoice ChooseDataFolder(const std::string& programFolder, const std::string& xdgDataHome,
                                  const std::string& home) {
    const std::string beside = WithSeparator(programFolder);
    std::error_code ec;
    if (fs::is_regular_file(beside + "base.rtf", ec) && ::access(beside.c_str(), W_OK) == 0)
        return {beside, {}};

    std::string base;
    if (!xdgDataHome.empty() && xdgDataHome.front() == '/')
        base = WithSeparator(xdgDataHome);
    else if (!home.empty())
        base = WithSeparator(home) + ".local/share/";
    else
        return {beside, {}};  // nowhere else to go
    // A system install: bin/tallimer beside share/tallimer/.
    const fs::path shipped = (fs::path(beside) / ".." / "share" / "tallimer").lexically_normal();
    return {base + "tallimer/", WithSeparator(shipped.string())};
}

void PrepareDataFolder(const DataFolderChoice& choice) {
    if (choice.shipped.empty()) return;
    const fs::path folder = choice.folder;
    std::error_code ec;
    fs::create_directories(folder / "Comptes", ec);
    fs::create_directories(folder / "Factures", ec);
    const fs::path shipped = choice.shipped;
    if (!fs::exists(folder / "base.rtf", ec) && fs::is_regular_file(shipped / "base.rtf", ec))
        CopyFile(shipped / "base.rtf", folder / "base.rtf");
    // The help is ours, not the user's: a newer package brings a newer one.
    if (fs::is_regular_file(shipped / "aide.html", ec) &&
        !SameContent(shipped / "aide.html", folder / "aide.html"))
        CopyFile(shipped / "aide.html", folder / "aide.html");
}

}  // namespace tallimer
