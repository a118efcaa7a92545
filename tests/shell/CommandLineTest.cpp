// `tallimer --rapport`, `--rapport --json` and `--ligne` on a hand-built data folder: the exact
// texts, the JSON against its published schema, the running copy's figures over its socket,
// and not one byte written in the folder.
#include "shell/CommandLine.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "accounts/AccountFiles.h"
#include "metering/JournalStats.h"
#include "metering/Report.h"
#include "platform/JournalSqlite.h"
#include "shell/SingleInstance.h"
#include "support/Date.h"
#include "tests/common/Fakes.h"

namespace fs = std::filesystem;
using namespace tallimer;
using tallimer::test::Env;
using tallimer::test::TempDir;
using tallimer::test::WriteFile;

namespace {

struct Output {
    int code = 0;
    std::string out, err;
};

Output RunCommandLine(const std::vector<std::string>& args, const CommandPlace& place) {
    test::FakeClock clock;
    clock.local = {2026, 12, 8, 14, 5, 0, 0, 3};  // a Tuesday
    std::ostringstream out, err;
    Output o;
    o.code = RunCommand(ParseCommand(args), place, clock, out, err);
    o.out = out.str();
    o.err = err.str();
    return o;
}

// Every file and folder with its size and modification time.
std::map<std::string, std::string> Listing(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const auto time = e.last_write_time().time_since_epoch().count();
        out[e.path().string()] =
            std::to_string(e.is_regular_file() ? e.file_size() : 0) + " " + std::to_string(time);
    }
    return out;
}

JournalRow Row(const std::string& account, const std::string& start, std::int64_t ms, float cost) {
    JournalRow r;
    r.account = account;
    r.startLocal = start;
    r.startUtc = start + "Z";
    r.durationMs = ms;
    r.cost = cost;
    r.end = JournalEnd::Normal;
    return r;
}

// Two accounts, one with a package whose fee was charged, the state file and a journal whose
// newest line for that account is the package's fee, not a connection.
void BuildFolder(const fs::path& dir) {
    fs::create_directories(dir / "Comptes");
    Account wanadoo;
    wanadoo.periodDuration = 3723000;
    wanadoo.periodCost = 12.5f;
    wanadoo.packageEnabled = true;
    wanadoo.packageCharged = true;
    wanadoo.packagePrice = 10;
    wanadoo.packageDuration = 20 * 3600000;
    wanadoo.packageRemaining = -5000;  // overrun, as the window shows it
    wanadoo.nextInvoice = EncodeDate(2026, 12, 15);
    Account free;
    free.periodDuration = 600000;
    free.periodCost = 4.6f;
    free.nextInvoice = EncodeDate(2026, 12, 20);
    WriteFile(dir / "Comptes/Wanadoo.fai", WriteAccount(wanadoo));
    WriteFile(dir / "Comptes/Free.fai", WriteAccount(free));
    OverallState state;
    state.overallDuration = 400'000'000'000;  // past 2^31 ms
    state.overallCost = 1234.5f;
    WriteFile(dir / "tallimer.inf", WriteState(state));
    SqliteJournal journal((dir / "journal.sqlite").string());
    JournalRow fee = Row("Wanadoo", "2026-12-07T23:00:00", 0, 10);
    fee.origin = JournalOrigin::Imported;
    fee.packageFee = 10;
    JournalRow cut = Row("Free", "2026-12-01T08:00:00", 61000, 0.27f);
    cut.end = JournalEnd::CutShort;
    journal.importRows({Row("Wanadoo", "2026-12-02T10:00:00", 120000, 1),
                        Row("Wanadoo", "2026-12-07T21:03:12", 2710000, 3.21f), fee, cut});
}

const char* const kStoppedReport =
    "Compte « Free »\n"
    "  Période en cours (du 21/11/2026 au 20/12/2026)\n"
    "  Durée : 00:10:00\n"
    "  Coût : 4,60 €\n"
    "  Estimation à la fin de la période : 7,67 €\n"
    "  Dernière connexion : le 01/12/2026 à 08:00:00, 00:01:01 pour 0,27 € (interrompue)\n"
    "\n"
    "Compte « Wanadoo »\n"
    "  Période en cours (du 16/11/2026 au 15/12/2026)\n"
    "  Durée : 01:02:03\n"
    "  Coût : 12,50 €\n"
    "  Forfait restant : 00:00:0-5\n"
    "  Estimation à la fin de la période : 13,26 €\n"
    "  Dernière connexion : le 07/12/2026 à 21:03:12, 00:45:10 pour 3,21 €\n"
    "\n"
    "Total de tous les comptes\n"
    "  Durée : 111111:06:40\n"
    "  Coût : 1234,50 €\n"
    "\n"
    "Aucune connexion en cours.\n";

TEST(CommandLine, TheProgramStoppedTheFilesAndTheJournalAreReportedAndNothingIsWritten) {
    TempDir dir;
    BuildFolder(dir.path());
    const CommandPlace place{dir.str(), {(dir.path() / "nobody.socket").string()}};
    const auto before = Listing(dir.path());

    const Output report = RunCommandLine({"--rapport"}, place);
    EXPECT_EQ(report.code, 0) << report.err;
    EXPECT_EQ(report.out, kStoppedReport);
    const Output line = RunCommandLine({"--ligne"}, place);
    EXPECT_EQ(line.code, 0);
    EXPECT_EQ(line.out, "hors ligne\n");
    const Output json = RunCommandLine({"--rapport", "--json"}, place);
    EXPECT_EQ(json.code, 0);
    // One line, as status bars read it, with the figures of the text.
    EXPECT_EQ(
        json.out,
        "{\"version\":1,\"date\":\"2026-12-08T14:05:00\",\"en_ligne\":false,\"text\":\"hors "
        "ligne\",\"class\":\"hors-ligne\",\"tooltip\":" +
            JsonString(kStoppedReport) +
            ",\"comptes\":[{\"nom\":\"Free\",\"periode_debut\":\"2026-11-21\",\"periode_fin\":"
            "\"2026-12-20\",\"duree_ms\":600000,\"cout_eur\":4.6,\"forfait\":false,"
            "\"forfait_restant_ms\":null,\"estimation_fin_periode_eur\":7.6666665,"
            "\"derniere_connexion\":{\"debut\":\"2026-12-01T08:00:00\",\"duree_ms\":61000,"
            "\"cout_eur\":0.27,\"interrompue\":true}},{\"nom\":\"Wanadoo\",\"periode_debut\":"
            "\"2026-11-16\",\"periode_fin\":\"2026-12-15\",\"duree_ms\":3723000,\"cout_eur\":12.5,"
            "\"forfait\":true,\"forfait_restant_ms\":-5000,\"estimation_fin_periode_eur\":"
            "13.26087,\"derniere_connexion\":{\"debut\":\"2026-12-07T21:03:12\",\"duree_ms\":"
            "2710000,\"cout_eur\":3.21,\"interrompue\":false}}],\"total\":{\"duree_ms\":"
            "400000000000,\"cout_eur\":1234.5},\"connexion_en_cours\":null}\n");
    EXPECT_EQ(Listing(dir.path()), before);

    // The published schema, the one the README shows, accepts it.
    const fs::path schema = fs::path(Env("TALLIMER_SOURCE_DIR")) / "packaging/rapport.schema.json";
    const std::string readme = test::ReadFile(fs::path(Env("TALLIMER_SOURCE_DIR")) / "README.md");
    EXPECT_NE(readme.find(test::ReadFile(schema)), std::string::npos)
        << "the README's schema is not " << schema;
    if (std::system("/usr/bin/python3 -c 'import jsonschema' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-jsonschema is not installed (scripts/install-deps)";
    TempDir elsewhere;
    WriteFile(elsewhere.path() / "rapport.json", json.out);
    const std::string check =
        "/usr/bin/python3 -c 'import json, sys, jsonschema; "
        "jsonschema.validate(json.load(open(sys.argv[1])), "
        "json.load(open(sys.argv[2])))' '" +
        (elsewhere.path() / "rapport.json").string() + "' '" + schema.string() + "'";
    EXPECT_EQ(std::system(check.c_str()), 0) << json.out;
}

// A copy metering Wanadoo answers on its socket: its figures, fresher than the files, are
// the ones given, and the journal's row of the connection in progress is not the last one.
// A copy that keeps its data elsewhere is not asked twice for the wrong folder.
TEST(CommandLine, TheRunningCopysFiguresComeOverItsSocket) {
    TempDir dir;
    BuildFolder(dir.path());
    {
        SqliteJournal journal((dir.path() / "journal.sqlite").string());
        JournalRow open = Row("Wanadoo", "2026-12-08T13:52:26", 754000, 1.23f);
        open.end = JournalEnd::Open;
        journal.open(open);
    }
    SessionState s;
    s.online = true;
    s.account = "Wanadoo";
    s.connectionMs = 754000;
    s.connectionCost = 1.23f;
    s.rateIcon = 3;  // package time: the top of what the socket carries
    s.periodMs = 3723000 + 754000;
    s.periodCost = 12.5f + 1.23f;
    s.packageEnabled = true;
    s.packageLeftMs = 5 * 3600000 + 42000;
    s.periodEnd = EncodeDate(2026, 12, 15);
    s.overallMs = 400'000'754'000;
    s.overallCost = 1235.73f;
    std::string answeredFolder = dir.str();
    InstanceServer server;
    const std::string socket = (dir.path() / "copy.socket").string();
    ASSERT_TRUE(server.listen(socket));
    server.setStateAnswer([&] { return StateText(s, answeredFolder); });
    const CommandPlace place{dir.str(), {socket}};

    // The copy answers from its event loop; the command waits in a thread of its own.
    auto run = [&](std::vector<std::string> args) {
        Output o;
        std::atomic<bool> done = false;
        std::thread t([&] {
            o = RunCommandLine(args, place);
            done = true;
        });
        while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        t.join();
        return o;
    };
    EXPECT_EQ(run({"--ligne"}).out, "00:12:34 · 1,23 €\n");
    const std::string report = run({"--rapport"}).out;
    EXPECT_NE(
        report.find("Compte « Wanadoo »\n"
                    "  Période en cours (du 16/11/2026 au 15/12/2026)\n"
                    "  Durée : 01:14:37\n"
                    "  Coût : 13,73 €\n"
                    "  Forfait restant : 05:00:42\n"
                    "  Estimation à la fin de la période : 14,87 €\n"
                    "  Dernière connexion : le 07/12/2026 à 21:03:12, 00:45:10 pour 3,21 €\n"),
        std::string::npos)
        << report;
    EXPECT_NE(report.find("Total de tous les comptes\n"
                          "  Durée : 111111:19:14\n"
                          "  Coût : 1235,73 €\n\n"
                          "Connexion en cours : compte « Wanadoo », 00:12:34 pour 1,23 €, "
                          "tarif forfait\n"),
              std::string::npos)
        << report;
    // A copy busy the whole time it is waited for (its loop held here) is not said off line.
    const Output busy = RunCommandLine({"--rapport", "--json"}, place);
    EXPECT_NE(busy.out.find(R"("text":"sans réponse","class":"sans-reponse")"), std::string::npos)
        << busy.out;
    answeredFolder = "/elsewhere/";
    EXPECT_EQ(run({"--ligne"}).out, "hors ligne\n");
}

TEST(CommandLine, ExitCodesHelpAndAFolderWithoutJournal) {
    TempDir dir;
    const CommandPlace missing{(dir.path() / "absent/").string(), {}};
    const Output unreadable = RunCommandLine({"--ligne"}, missing);
    EXPECT_EQ(unreadable.code, 1);
    EXPECT_EQ(unreadable.out, "");
    EXPECT_EQ(unreadable.err, "tallimer : le dossier de données « " + missing.dataFolder +
                                  " » ne peut pas être lu : il n'existe pas.\n");
    EXPECT_FALSE(fs::exists(dir.path() / "absent"));

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--rapport", "--csv"},
                                                {"--json"},
                                                {"--ligne", "--rapport"},
                                                {"--rapport", "-platform"}}) {
        const Output o = RunCommandLine(bad, missing);
        EXPECT_EQ(o.code, 2) << bad.back();
        EXPECT_NE(o.err.find("Essayez « tallimer --help »."), std::string::npos);
    }
    const Output help = RunCommandLine({"-h"}, missing);
    EXPECT_EQ(help.code, 0);
    for (const char* option : {"--rapport", "--json", "--ligne", "--help"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    // The toolkit's own options still start the window, and may stand before a command.
    EXPECT_EQ(ParseCommand({"-platform", "offscreen"}).kind, CommandKind::Window);
    EXPECT_EQ(ParseCommand({"-platform", "offscreen", "--ligne"}).kind, CommandKind::Line);
    EXPECT_EQ(ParseCommand({"-reverse", "--rapport", "-style", "fusion", "--json"}).kind,
              CommandKind::ReportJson);

    // A data folder with one account file and nothing else: no journal is made.
    fs::create_directories(dir.path() / "Comptes");
    WriteFile(dir.path() / "Comptes/Free.fai", WriteAccount(Account{}));
    const auto before = Listing(dir.path());
    const Output report = RunCommandLine({"--rapport"}, {dir.str(), {}});
    EXPECT_EQ(report.code, 0);
    EXPECT_NE(report.out.find("Compte « Free »\n"), std::string::npos) << report.out;
    EXPECT_NE(report.out.find("  Dernière connexion : aucune\n"), std::string::npos);
    EXPECT_EQ(Listing(dir.path()), before);
}

// A folder another user can read whose state file and accounts only their owner may: the
// report says why, as for an unreadable folder, rather than « Aucun compte. ».
TEST(CommandLine, FilesThatCannotBeReadAreSaidAndTheExitCodeIsOne) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to read as another user";
    TempDir dir;
    BuildFolder(dir.path());
    fs::permissions(dir.path(),
                    fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
    fs::permissions(dir.path() / "tallimer.inf", fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir.path() / "Comptes", fs::perms::owner_all);
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe[0]);
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(9);
        const Output o = RunCommandLine({"--rapport"}, {dir.str(), {}});
        const std::string said = std::to_string(o.code) + "\n" + o.out + o.err;
        _exit(::write(pipe[1], said.data(), said.size()) > 0 ? 0 : 8);
    }
    ::close(pipe[1]);
    std::string said;
    char chunk[512];
    for (ssize_t n; (n = ::read(pipe[0], chunk, sizeof chunk)) > 0;) said.append(chunk, n);
    ::close(pipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(said, "1\ntallimer : le fichier « " + dir.str() +
                        "tallimer.inf » ne peut pas être lu : accès refusé.\n");
}

}  // namespace
