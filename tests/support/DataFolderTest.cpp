// Where the data lives: beside a program that owns its folder, otherwise in the user's data
// folder, laid out from the shipped files without ever replacing the user's own.
#include "support/DataFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/common/Fakes.h"

namespace fs = std::filesystem;
using tallimer::ChooseDataFolder;
using tallimer::PrepareDataFolder;
using tallimer::test::ReadFile;
using tallimer::test::TempDir;
using tallimer::test::WriteFile;

TEST(DataFolder, ProgramFolderWithItsTemplateKeepsTheDataBesideIt) {
    TempDir dir;
    WriteFile(dir.path() / "base.rtf", "{\\rtf1 mine}");
    const auto choice = ChooseDataFolder(dir.path().string(), "/xdg", "/home/u");
    EXPECT_EQ(choice.folder, dir.str());
    EXPECT_EQ(choice.shipped, "");
    PrepareDataFolder(choice);  // nothing to lay out
    EXPECT_FALSE(fs::exists(dir.path() / "Comptes"));
    EXPECT_EQ(ReadFile(dir.path() / "base.rtf"), "{\\rtf1 mine}");
}

TEST(DataFolder, SystemInstallLaysOutTheUsersFolderOnceAndKeepsTheirFiles) {
    TempDir dir;
    const fs::path usr = dir.path() / "usr";
    const fs::path shipped = usr / "share" / "tallimer";
    fs::create_directories(usr / "bin");
    fs::create_directories(shipped);
    WriteFile(shipped / "base.rtf", "{\\rtf1 template}\r\n");
    WriteFile(shipped / "aide.html", "<p>aide 1</p>");
    const std::string xdg = (dir.path() / "data").string();

    const auto choice = ChooseDataFolder((usr / "bin").string(), xdg, "/home/u");
    EXPECT_EQ(choice.folder, xdg + "/tallimer/");
    EXPECT_EQ(choice.shipped, shipped.string() + "/");
    // XDG_DATA_HOME unset or relative: the default under the home folder.
    EXPECT_EQ(ChooseDataFolder((usr / "bin").string(), "", "/home/u").folder,
              "/home/u/.local/share/tallimer/");
    EXPECT_EQ(ChooseDataFolder((usr / "bin").string(), "rel/data", "/home/u/").folder,
              "/home/u/.local/share/tallimer/");

    PrepareDataFolder(choice);
    const fs::path data = choice.folder;
    EXPECT_TRUE(fs::is_directory(data / "Comptes"));
    EXPECT_TRUE(fs::is_directory(data / "Factures"));
    EXPECT_EQ(ReadFile(data / "base.rtf"), "{\\rtf1 template}\r\n");
    EXPECT_EQ(ReadFile(data / "aide.html"), "<p>aide 1</p>");

    // The user adapts the template and meters; a newer package comes with a newer help.
    WriteFile(data / "base.rtf", "{\\rtf1 my header}\r\n");
    WriteFile(data / "Comptes" / "Modem.fai", "1\r\n");
    WriteFile(shipped / "base.rtf", "{\\rtf1 template 2}\r\n");
    WriteFile(shipped / "aide.html", "<p>aide 2</p>");
    PrepareDataFolder(choice);
    EXPECT_EQ(ReadFile(data / "base.rtf"), "{\\rtf1 my header}\r\n");
    EXPECT_EQ(ReadFile(data / "Comptes" / "Modem.fai"), "1\r\n");
    EXPECT_EQ(ReadFile(data / "aide.html"), "<p>aide 2</p>");
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(data))
        entries.insert(fs::relative(entry.path(), data).string());
    EXPECT_EQ(entries, (std::set<std::string>{"Comptes", "Comptes/Modem.fai", "Factures",
                                              "aide.html", "base.rtf"}));

    // A deleted template comes back at the next start.
    fs::remove(data / "base.rtf");
    PrepareDataFolder(choice);
    EXPECT_EQ(ReadFile(data / "base.rtf"), "{\\rtf1 template 2}\r\n");
}
