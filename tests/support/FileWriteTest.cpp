#include "support/FileWrite.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "accounts/AccountFiles.h"
#include "invoices/RunningInvoiceFile.h"
#include "support/Date.h"
#include "tests/common/Fakes.h"

using namespace tallimer;
using tallimer::test::ReadFile;
using tallimer::test::TempDir;
using tallimer::test::WriteFile;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Entries(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

// Names planted where a write could go (the siblings of older versions, links) are never
// written through; links lead only inside the data; leftovers of a crash go at start.
TEST(FileWrite, SiblingsAreUniqueLinksStayInsideAndLeftoversGo) {
    TempDir dir, outside;
    const fs::path comptes = dir.path() / "Comptes";
    fs::create_directories(comptes);
    const fs::path victim = outside.path() / "victim";
    WriteFile(victim, "precious");
    fs::create_hard_link(victim, comptes / "a.fai.tmp");  // a hard link at an old sibling name
    fs::create_symlink(victim, comptes / ".tallimer-1.tmp");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(WriteFileAtomically((comptes / "a.fai").string(), "account", dir.str()));
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_EQ(ReadFile(comptes / "a.fai"), "account");

    // Through a link inside the data, whose target keeps its place; never out of it.
    WriteFile(dir.path() / "tallimer.inf", "old");
    fs::create_symlink("../tallimer.inf", comptes / "inside.fai");
    EXPECT_TRUE(WriteFileAtomically((comptes / "inside.fai").string(), "new", dir.str()));
    EXPECT_TRUE(fs::is_symlink(comptes / "inside.fai"));
    EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf"), "new");
    fs::create_symlink(victim, comptes / "out.fai");
    EXPECT_FALSE(WriteFileAtomically((comptes / "out.fai").string(), "stolen", dir.str()));
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_TRUE(fs::is_symlink(comptes / "out.fai"));

    // What a crash could have left, of this version and of earlier ones, and what is not.
    for (const char* name : {".~tallimer-Ab12Cd", "b.fai.tmp", ".tallimer-77.tmp"})
        WriteFile(comptes / name, "x");
    WriteFile(dir.path() / "temp.rtf.a1B2c3", "x");
    WriteFile(dir.path() / "tallimer.inf.tmp", "x");
    WriteFile(dir.path() / "notes.tmp", "mine");
    WriteFile(dir.path() / "temp.rtf.backup", "mine");
    RemoveLeftovers(dir.str());
    RemoveLeftovers(comptes.string());
    EXPECT_EQ(Entries(comptes),
              (std::vector<std::string>{".tallimer-1.tmp", "a.fai", "inside.fai", "out.fai"}));
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"Comptes", "notes.tmp", "tallimer.inf",
                                                             "temp.rtf.backup"}));
    EXPECT_EQ(ReadFile(victim), "precious");  // a planted link is removed, never followed
}

// A folder the user may not add names to, holding files the user may write (a folder owned
// by someone else): every save still lands, in place, and a full disk leaves the old bytes.
// Checked as an ordinary user; as root, in a child that becomes "nobody".
TEST(FileWrite, AFolderThatRefusesSiblingsGetsItsFilesRewrittenInPlace) {
    TempDir dir;
    const fs::path comptes = dir.path() / "Comptes";
    fs::create_directories(comptes);
    AccountCollection accounts;
    Account& kept = accounts.findOrCreate("a");
    kept.periodCost = 2.5f;
    ASSERT_TRUE(SaveAll(dir.str(), accounts, {1000, 1, true}));
    const std::string before = ReadFile(comptes / "a.fai");
    kept.periodCost = 1234.5f;
    accounts.findOrCreate("new");  // cannot be created there: kept for a later save

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int code = 0;
        auto check = [&code](bool ok, int bit) {
            if (!ok) code |= bit;
        };
        if (geteuid() == 0) {
            struct stat st {};
            const uid_t nobody = 65534;
            for (const fs::path& p : {dir.path() / "tallimer.inf", comptes / "a.fai"})
                check(::chown(p.c_str(), nobody, nobody) == 0, 64);
            check(::stat(dir.path().c_str(), &st) == 0, 64);
            check(setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0, 64);
            check(geteuid() == nobody, 64);
        }
        ::chmod(dir.path().c_str(), 0555);
        ::chmod(comptes.c_str(), 0555);
        check(!SaveAll(dir.str(), accounts, {2000, 2, false}), 1);  // "new" is not there
        check(ReadFile(dir.path() / "tallimer.inf") == "2000\r\n2\r\n0", 2);
        check(ReadFile(comptes / "a.fai") == WriteAccount(kept), 4);
        check(!fs::exists(comptes / "new.fai"), 8);
        // A full disk: the space is asked for first, so the file keeps its earlier bytes.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small{16, 16};
        setrlimit(RLIMIT_FSIZE, &small);
        check(!WriteFileAtomically((comptes / "a.fai").string(), std::string(4096, '9')), 16);
        check(ReadFile(comptes / "a.fai") == WriteAccount(kept), 32);
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed checks (bits): " << WEXITSTATUS(status);
    EXPECT_NE(ReadFile(comptes / "a.fai"), before);
    EXPECT_EQ(Entries(comptes), (std::vector<std::string>{"a.fai"}));

    // Once the folder allows it again, the value kept in memory lands.
    fs::permissions(dir.path(), fs::perms::owner_all);
    fs::permissions(comptes, fs::perms::owner_all);
    EXPECT_TRUE(SaveAll(dir.str(), accounts, {2000, 2, false}));
    EXPECT_TRUE(fs::exists(comptes / "new.fai"));
}

// The minute save of many accounts: what has not changed is neither read back nor written,
// yet a file edited, replaced or removed behind the program's back is written again; the
// folders are synced once, after every rename, and a failed sync is no success.
TEST(FileWrite, ASaveWritesOnlyWhatChangedHereOrBehindItsBack) {
    TempDir dir;
    const fs::path comptes = dir.path() / "Comptes";
    AccountCollection accounts;
    for (const char* name : {"a", "b", "c", "d"}) accounts.findOrCreate(name).periodMonths = 2;
    const OverallState state{1000, 1, true};
    ASSERT_TRUE(SaveAll(dir.str(), accounts, state));
    struct Calls {
        std::vector<std::pair<FileCall, std::string>> seen;
        int failSync = 0;
        int operator()(FileCall call, const std::string& path) {
            seen.emplace_back(call, path);
            return call == FileCall::SyncFolder ? failSync : 0;
        }
        std::vector<std::string> of(FileCall kind) const {
            std::vector<std::string> out;
            for (const auto& [call, path] : seen)
                if (call == kind) out.push_back(path);
            std::sort(out.begin(), out.end());
            return out;
        }
    };
    auto save = [&](Calls& calls) {
        SetFileCallHook(std::ref(calls));
        const bool ok = SaveAll(dir.str(), accounts, state);
        SetFileCallHook({});
        return ok;
    };

    for (int age : {3, -1}) {  // time stamps too recent to trust, and trusted at once
        SCOPED_TRACE(age);
        SetTrustedStampAge(age);
        Calls idle;
        EXPECT_TRUE(save(idle));  // read back or recognised: nothing written, nothing synced
        EXPECT_TRUE(idle.seen.empty());
        Calls again;
        EXPECT_TRUE(save(again));
        EXPECT_TRUE(again.seen.empty());

        // Behind its back: one file edited in place, one replaced, one removed.
        WriteFile(comptes / "a.fai", "0\r\n");
        fs::remove(comptes / "b.fai");
        WriteFile(comptes / "b.fai.new", "7");
        fs::rename(comptes / "b.fai.new", comptes / "b.fai");
        fs::remove(dir.path() / "tallimer.inf");
        accounts.findOrCreate("d").periodDuration = age == 3 ? 60000 : 120000;  // and here
        Calls changed;
        EXPECT_TRUE(save(changed));
        EXPECT_EQ(
            changed.of(FileCall::Rename),
            (std::vector<std::string>{dir.str() + "Comptes/a.fai", dir.str() + "Comptes/b.fai",
                                      dir.str() + "Comptes/d.fai", dir.str() + "tallimer.inf"}));
        EXPECT_EQ(changed.of(FileCall::SyncFolder),
                  (std::vector<std::string>{dir.str(), dir.str() + "Comptes/"}));
        EXPECT_EQ(changed.seen.back().first, FileCall::SyncFolder);
        EXPECT_EQ(changed.seen[changed.seen.size() - 2].first, FileCall::SyncFolder);
        for (const char* name : {"a", "b", "c", "d"})
            EXPECT_EQ(ReadFile(comptes / (std::string(name) + ".fai")),
                      WriteAccount(*accounts.find(name)))
                << name;
        EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf"), WriteState(state));
    }

    // A folder that could not be synced: the save is not done, and neither is the next one
    // until that folder is synced, though its file is there already.
    accounts.findOrCreate("c").periodCost = 5;
    Calls failing;
    failing.failSync = EIO;
    EXPECT_FALSE(save(failing));
    EXPECT_EQ(ReadFile(comptes / "c.fai"), WriteAccount(*accounts.find("c")));
    EXPECT_FALSE(save(failing));
    Calls recovered;
    EXPECT_TRUE(save(recovered));
    EXPECT_TRUE(recovered.of(FileCall::Rename).empty());
    EXPECT_EQ(recovered.of(FileCall::SyncFolder),
              (std::vector<std::string>{dir.str() + "Comptes/"}));
    SetTrustedStampAge(3);
}

// Each promise of the write path, with each call of it failing in turn: a failure leaves the
// old bytes and no sibling at once; a disk too full for a sibling gets the file rewritten in
// place, shorter content leaving exactly the new bytes; on every path the sibling is synced
// before its rename and its folder after it.
TEST(FileWrite, EveryFailingCallLeavesTheOldFileAloneAndAFullDiskWritesInPlace) {
    TempDir dir;
    const std::string path = dir.str() + "tallimer.inf";
    const std::string old = "a longer content than the new one";
    struct Calls {
        FileCall fail = FileCall::MakeFolder;  // none of the calls made here
        int error = 0;
        std::vector<std::pair<FileCall, std::string>> seen;
        int operator()(FileCall call, const std::string& at) {
            seen.emplace_back(call, at);
            const bool sibling = at.find("/.~tallimer-") != std::string::npos;
            return call == fail && (sibling || call == FileCall::Rename) ? error : 0;
        }
        std::size_t index(FileCall call) const {
            for (std::size_t i = 0; i < seen.size(); ++i)
                if (seen[i].first == call) return i;
            return seen.size();
        }
    };
    for (FileCall fail : {FileCall::Create, FileCall::Write, FileCall::Sync, FileCall::Close,
                          FileCall::Rename, FileCall::MakeFolder}) {
        for (int error : {EIO, ENOSPC}) {
            for (bool batched : {false, true}) {
                SCOPED_TRACE(std::to_string(static_cast<int>(fail)) + " " + std::to_string(error) +
                             (batched ? " batched" : ""));
                WriteFile(path, old);
                Calls calls{fail, error, {}};
                FolderSyncs later;
                SetFileCallHook(std::ref(calls));
                bool ok = WriteFileAtomically(path, "short", dir.str(), batched ? &later : nullptr);
                if (batched) ok = later.syncAll() && ok;
                SetFileCallHook({});
                EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"tallimer.inf"});
                const bool fails = fail != FileCall::MakeFolder;
                // A close refused by the system may have lost the bytes: the sibling goes too.
                EXPECT_EQ(ok, !fails || error == ENOSPC);
                EXPECT_EQ(ReadFile(path), ok ? "short" : old);
                if (fails) continue;
                const std::size_t sync = calls.index(FileCall::Sync),
                                  rename = calls.index(FileCall::Rename),
                                  folder = calls.index(FileCall::SyncFolder);
                EXPECT_LT(sync, rename);
                EXPECT_LT(rename, folder);
                EXPECT_LT(folder, calls.seen.size());
            }
        }
    }
    // A new file cannot be rewritten in place.
    SetFileCallHook(
        [](FileCall call, const std::string&) { return call == FileCall::Write ? ENOSPC : 0; });
    EXPECT_FALSE(WriteFileAtomically(dir.str() + "new.fai", "x", dir.str()));
    SetFileCallHook({});
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"tallimer.inf"});
}

// Names of 250, 300 and 1000 bytes: the account keeps its totals and its whole name, and its
// periods can be filed.
TEST(FileWrite, LongNamesKeepTheirAccountAndTheirArchives) {
    TempDir dir;
    std::string accented;
    for (int i = 0; i < 500; ++i) accented += "\xC3\xA9";  // 1000 bytes of "é"
    const std::vector<std::string> names = {std::string(250, 'a'), std::string(300, 'b'),
                                            std::string(1000, 'c'), accented,
                                            std::string(299, 'd') + "/x"};
    AccountCollection accounts;
    for (std::size_t i = 0; i < names.size(); ++i)
        accounts.findOrCreate(names[i]).periodDuration = static_cast<std::int32_t>(i + 1) * 1000;
    ASSERT_TRUE(SaveAll(dir.str(), accounts, {}));
    for (const auto& entry : fs::directory_iterator(dir.path() / "Comptes")) {
        const std::string file = entry.path().filename();
        EXPECT_LE(file.size(), 255u);
        EXPECT_EQ(file.find('/'), std::string::npos);
    }
    EXPECT_EQ(AccountFileName(names[0]), names[0] + ".fai");  // fits: unchanged

    OverallState state;
    AccountCollection back;
    LoadAll(dir.str(), back, state);
    ASSERT_EQ(back.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_NE(back.find(names[i]), nullptr) << i;
        EXPECT_EQ(back.find(names[i])->periodDuration, static_cast<std::int32_t>(i + 1) * 1000);
    }
    // Two long names that share their start keep two files.
    EXPECT_NE(AccountFileName(std::string(300, 'b')), AccountFileName(std::string(301, 'b')));
    // A shortened name cut inside a character would not be valid text.
    const std::string stem = FileStem(accented, 200);
    EXPECT_LE(stem.size(), 200u);
    EXPECT_EQ(stem.substr(0, stem.find('~')).size() % 2, 0u);

    // Each period closes into an archive of its own, under a name the folder can hold.
    test::FakeInvoice invoice;
    invoice.template_ = {{"Facture", {}}};
    std::vector<std::string> reports;
    RunningInvoiceFile running(invoice, dir.str(), Locale::french(),
                               [&](const std::exception& e) { reports.push_back(e.what()); });
    for (const std::string& name : names) {
        Account& account = *back.find(name);
        account.nextInvoice = EncodeDate(2001, 3, 5);
        EXPECT_NO_THROW(running.ClosePeriod(account, name, EncodeDate(2001, 3, 6)));
        EXPECT_EQ(account.periodDuration, 0);
    }
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(Entries(dir.path() / "Factures").size(), names.size());
    for (const std::string& file : Entries(dir.path() / "Factures")) {
        EXPECT_LE(file.size(), 255u);
        EXPECT_TRUE(file.ends_with(" 05 mars 01.rtf")) << file;
    }
}

}  // namespace
