// The Debian package: built with the program, its files where a system install puts them, no
// lintian error or warning, a valid AppStream description; then installed on this machine, run by
// an ordinary user who gets a data folder of their own, and removed. The installation part skips
// where the machine refuses apt-get install.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/common/Fakes.h"

namespace fs = std::filesystem;
using tallimer::test::BuildDir;
using tallimer::test::Env;
using tallimer::test::ReadFile;
using tallimer::test::TempDir;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

bool Have(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a command; its output (both streams) goes to `out`.
int Shell(const std::string& command, const fs::path& out) {
    return std::system(("(" + command + ") >'" + out.string() + "' 2>&1").c_str());
}

}  // namespace

TEST(Package, BuildsCleanInstallsRunsAsAUserAndIsRemoved) {
    if (kSanitized) GTEST_SKIP() << "a sanitizer build is not for packaging";
    for (const char* tool : {"cpack", "dpkg-deb", "dpkg-shlibdeps", "lintian", "appstreamcli"})
        if (!Have(tool)) GTEST_SKIP() << tool << " is not installed";
    const fs::path build = BuildDir();
    const fs::path source = Env("TALLIMER_SOURCE_DIR");
    if (!fs::exists(build / "app" / "tallimer")) GTEST_SKIP() << "the program is not built";
    TempDir dir;
    const fs::path log = dir.path() / "out.log";

    ASSERT_EQ(Shell("cd '" + build.string() + "' && cpack -G DEB -B '" + dir.str() + "pkg'", log),
              0)
        << ReadFile(log);
    fs::path deb;
    for (const auto& entry : fs::recursive_directory_iterator(build / "artefacts"))
        if (entry.path().extension() == ".deb") deb = entry.path();
    ASSERT_FALSE(deb.empty()) << ReadFile(log);

    // Exactly these files (documentation aside), owned by root.
    ASSERT_EQ(Shell("dpkg-deb -c '" + deb.string() + "'", log), 0);
    std::set<std::string> files, docs;
    std::istringstream listing(ReadFile(log));
    for (std::string line; std::getline(listing, line);) {
        if (line.empty() || line[0] == 'd') continue;
        EXPECT_NE(line.find(" root/root "), std::string::npos) << line;
        const std::string path = line.substr(line.find("./") + 1);
        (path.rfind("/usr/share/doc/", 0) != 0 ? files : docs).insert(path);
    }
    // What the manual page points to is shipped.
    for (const char* doc :
         {"/usr/share/doc/tallimer/README.md.gz", "/usr/share/doc/tallimer/rapport.schema.json"})
        EXPECT_EQ(docs.count(doc), 1u) << doc;
    EXPECT_EQ(files, (std::set<std::string>{
                         "/etc/xdg/autostart/tallimer.desktop",
                         "/usr/bin/tallimer",
                         "/usr/lib/tallimer/modules/libtallimer-stats.so",
                         "/usr/share/applications/tallimer.desktop",
                         "/usr/share/icons/hicolor/scalable/apps/tallimer.svg",
                         "/usr/share/man/man1/tallimer.1.gz",
                         "/usr/share/metainfo/org.example.tallimer.metainfo.xml",
                         "/usr/share/tallimer/aide.html",
                         "/usr/share/tallimer/base.rtf",
                     }));
    ASSERT_EQ(Shell("dpkg-deb -f '" + deb.string() + "' Depends", log), 0);
    EXPECT_NE(ReadFile(log).find("libqt6widgets6"), std::string::npos) << ReadFile(log);

    EXPECT_EQ(Shell("lintian -I --tag-display-limit 0 '" + deb.string() + "'", log) & 0xff00, 0)
        << ReadFile(log);
    // Hardened and findable: none of the notes about either.
    for (const char* tag : {"hardening-", "desktop-entry-lacks-keywords-entry"})
        EXPECT_EQ(ReadFile(log).find(tag), std::string::npos) << ReadFile(log);
    for (const char* level : {"E: ", "W: "}) {  // no error, and no warning either
        EXPECT_EQ(ReadFile(log).find(std::string("\n") + level), std::string::npos)
            << ReadFile(log);
        EXPECT_NE(ReadFile(log).rfind(level, 0), 0u) << ReadFile(log);
    }
    EXPECT_EQ(Shell("appstreamcli validate --no-net '" +
                        (source / "packaging/org.example.tallimer.metainfo.xml").string() + "'",
                    log),
              0)
        << ReadFile(log);

    const fs::path out = dir.path() / "scenario.out";
    fs::create_directories(dir.path() / "work");
    const int status =
        Shell("timeout 240 bash '" + (source / "tests/packaging/deb-scenario.sh").string() + "' '" +
                  deb.string() + "' '" + (dir.path() / "work").string() + "'",
              out);
    const std::string text = ReadFile(out);
    if (text.rfind("skip: ", 0) == 0) GTEST_SKIP() << text;
    EXPECT_EQ(status, 0) << text;
    for (const char* step : {"install", "run", "remove"})
        EXPECT_NE(text.find(std::string("ok ") + step + "\n"), std::string::npos)
            << "step " << step << ":\n"
            << text;
    EXPECT_FALSE(fs::exists("/usr/bin/tallimer")) << "the package was left installed";
}

// make install for one user: the program with its files, a menu entry and the session's
// autostart entry; AUTOSTART=0 leaves the latter out; make uninstall takes back what install
// added and nothing of the user's.
TEST(Package, UserInstallStartsWithTheSessionAndUninstallKeepsTheUsersData) {
    const fs::path build = BuildDir();
    const fs::path source = Env("TALLIMER_SOURCE_DIR");
    if (!fs::exists(build / "app" / "tallimer")) GTEST_SKIP() << "the program is not built";
    TempDir dir;
    const fs::path home = dir.path() / "home";
    const fs::path dest = home / ".local/share/tallimer";
    const fs::path autostart = home / ".config/autostart/tallimer.desktop";
    const fs::path menu = home / ".local/share/applications/tallimer.desktop";
    const fs::path log = dir.path() / "out.log";
    const std::string env = "cd '" + source.string() +
                            "' && env -u XDG_CONFIG_HOME -u PREFIX HOME='" + home.string() + "' ";
    const std::string install = "bash scripts/install-user '" + build.string() + "'";

    ASSERT_EQ(Shell(env + install, log), 0) << ReadFile(log);
    EXPECT_EQ(ReadFile(dest / "base.rtf"), ReadFile(source / "data/base.rtf"));
    // Stripped, as the package ships them.
    for (const char* f : {"tallimer", "libtallimer-stats.so"})
        EXPECT_NE(Shell("readelf -S '" + (dest / f).string() + "' | grep -q symtab", log), 0) << f;
    EXPECT_EQ(fs::read_symlink(home / ".local/bin/tallimer"), dest / "tallimer");
    const std::string entry = ReadFile(menu);
    EXPECT_NE(entry.find("\nExec=\"" + (dest / "tallimer").string() + "\"\n"), std::string::npos)
        << entry;
    EXPECT_EQ(ReadFile(autostart), entry);

    // The user meters and adapts the template.
    tallimer::test::WriteFile(dest / "tallimer.inf", "1000\r\n0.5\r\n1");
    tallimer::test::WriteFile(dest / "Comptes/Modem.fai", "account");
    tallimer::test::WriteFile(dest / "Factures/Modem 01 janv. 26.rtf", "{\\rtf1 archive}");
    ASSERT_EQ(Shell(env + "AUTOSTART=0 " + install, log), 0) << ReadFile(log);
    EXPECT_FALSE(fs::exists(autostart));
    EXPECT_TRUE(fs::exists(menu));
    tallimer::test::WriteFile(dest / "base.rtf", "{\\rtf1 my header}");

    ASSERT_EQ(Shell(env + "bash scripts/uninstall-user", log), 0) << ReadFile(log);
    std::set<std::string> left;
    for (const auto& e : fs::recursive_directory_iterator(home))
        // The menu's cache is the desktop's, rebuilt where its tool is installed.
        if (!e.is_directory() && e.path().filename() != "mimeinfo.cache")
            left.insert(fs::relative(e.path(), home).string());
    EXPECT_EQ(left, (std::set<std::string>{
                        ".local/share/tallimer/tallimer.inf",
                        ".local/share/tallimer/Comptes/Modem.fai",
                        ".local/share/tallimer/Factures/Modem 01 janv. 26.rtf",
                        ".local/share/tallimer/base.rtf",
                    }))
        << ReadFile(log);
    EXPECT_EQ(ReadFile(dest / "base.rtf"), "{\\rtf1 my header}");
    EXPECT_FALSE(fs::is_symlink(home / ".local/bin/tallimer"));
    EXPECT_EQ(Shell(env + "bash scripts/uninstall-user", log), 0) << ReadFile(log);

    // Staged for a packager, as make install DESTDIR=... passes it: everything under the
    // stage, naming the final places, and nothing in the home.
    fs::remove_all(home);
    const fs::path stage = dir.path() / "stage";
    ASSERT_EQ(Shell(env + "DESTDIR='" + stage.string() + "' " + install, log), 0) << ReadFile(log);
    EXPECT_FALSE(fs::exists(home));
    EXPECT_TRUE(fs::exists(stage / dest.relative_path() / "tallimer"));
    EXPECT_EQ(fs::read_symlink(stage / home.relative_path() / ".local/bin/tallimer"),
              dest / "tallimer");
    EXPECT_EQ(ReadFile(stage / autostart.relative_path()), entry);
    EXPECT_NE(ReadFile(stage / dest.relative_path() / ".installed-files")
                  .find("  " + (dest / "tallimer").string() + "\n"),
              std::string::npos);
}
