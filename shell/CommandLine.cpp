#include "shell/CommandLine.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <ostream>
#include <set>
#include <utility>

#include "metering/Report.h"
#include "platform/JournalSqlite.h"
#include "shell/SingleInstance.h"

namespace tallimer {

namespace {

// A copy answers within milliseconds; one busy with a slow disk gets longer, as saying it is
// off line while it meters would be wrong.
constexpr int kAnswerMs = 5000;

const char* const kHelp =
    "Usage : tallimer [--rapport [--json] | --ligne | --help]\n"
    "\n"
    "Le Tallimer Internet compte le temps et le coût des connexions Internet facturées à\n"
    "la durée. Sans option, il se place dans la zone de notification, ou montre la copie\n"
    "déjà en marche.\n"
    "\n"
    "  --rapport          pour chaque compte, la période en cours : durée, coût, forfait\n"
    "                     restant, estimation à la fin de la période, dernière connexion ;\n"
    "                     puis les totaux et la connexion en cours\n"
    "  --rapport --json   le même rapport en JSON, pour les scripts et les barres d'état\n"
    "  --ligne            une ligne pour une barre d'état : « 00:12:34 · 1,23 € » en ligne,\n"
    "                     « hors ligne » sinon\n"
    "  --help, -h         cette aide\n"
    "\n"
    "Ces commandes lisent les fichiers et le journal sans rien écrire, demandent les\n"
    "chiffres du moment à la copie en marche et n'ont besoin d'aucun écran.\n"
    "Codes de sortie : 0 réussi, 1 dossier de données illisible, 2 option incorrecte.\n";

std::string Reason(int error) {
    switch (error) {
        case ENOENT:
            return "il n'existe pas";
        case EACCES:
            return "accès refusé";
        case ENOTDIR:
            return "ce n'est pas un dossier";
        default:
            return "erreur " + std::to_string(error);
    }
}

// The running copy's state, if a copy on this very folder answers; `silent` when the copy
// holding the folder took the request and never answered.
std::optional<SessionState> LiveState(const CommandPlace& place, bool& silent) {
    std::string asked;
    silent = false;
    for (const std::string& socket : place.sockets) {
        if (socket.empty() || socket == asked) continue;
        const bool holder = asked.empty() && socket == place.sockets.front();
        asked = socket;
        bool listened = false;
        const auto answer = AskState(socket, kAnswerMs, &listened);
        if (!answer) {
            silent = silent || (holder && listened);
            continue;
        }
        std::string folder;
        auto state = ParseStateText(*answer, folder);
        if (state && folder == place.dataFolder) return state;
    }
    return std::nullopt;
}

}  // namespace

Command ParseCommand(const std::vector<std::string>& args) {
    // The toolkit's options that take a value: « -platform offscreen --ligne » is a command.
    static const std::set<std::string> kWithValue = {
        "-platform",    "-platformpluginpath", "-platformtheme", "-plugin",     "-qwindowgeometry",
        "-qwindowicon", "-qwindowtitle",       "-style",         "-stylesheet", "-session",
        "-display",     "-geometry",           "-title",         "-name"};
    std::vector<std::string> ours;
    std::optional<std::string> stray;  // a word that is nobody's option
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) == 0 || a == "-h")
            ours.push_back(a);
        else if (a.rfind('-', 0) != 0 || a.size() == 1)
            stray = stray.value_or(a);
        else if (kWithValue.count(a) && ++i == args.size())
            stray = stray.value_or(a);
    }
    if (ours.empty()) return {};
    if (stray) return {CommandKind::Bad, *stray};
    bool report = false, json = false, line = false, help = false;
    for (const std::string& a : ours) {
        if (a == "--rapport")
            report = true;
        else if (a == "--json")
            json = true;
        else if (a == "--ligne")
            line = true;
        else if (a == "--help" || a == "-h")
            help = true;
        else
            return {CommandKind::Bad, a};
    }
    if (help) return {CommandKind::Help, {}};
    if (report && line) return {CommandKind::Bad, "--ligne"};
    if (json && !report) return {CommandKind::Bad, "--json"};
    if (line) return {CommandKind::Line, {}};
    return {json ? CommandKind::ReportJson : CommandKind::Report, {}};
}

int RunCommand(const Command& command, const CommandPlace& place, const Clock& clock,
               std::ostream& out, std::ostream& err) {
    switch (command.kind) {
        case CommandKind::Window:
            return 0;
        case CommandKind::Help:
            out << kHelp;
            return 0;
        case CommandKind::Bad:
            err << "tallimer : option incorrecte « " << command.bad
                << " ».\nEssayez « tallimer --help ».\n";
            return 2;
        default:
            break;
    }
    if (DIR* dir = ::opendir(place.dataFolder.c_str())) {
        ::closedir(dir);
    } else {
        err << "tallimer : le dossier de données « " << place.dataFolder
            << " » ne peut pas être lu : " << Reason(errno) << ".\n";
        return 1;
    }
    const Locale french = Locale::french();
    bool silent = false;
    const std::optional<SessionState> live = LiveState(place, silent);
    if (command.kind == CommandKind::Line) {
        out << (silent ? kSilentLine : StatusLine(live, french)) << '\n';
        return 0;
    }
    // Files that are there but cannot be read would give a report of nothing as if it were
    // the truth.
    for (const auto& [name, folder] : {std::pair{"tallimer.inf", false}, {"Comptes/", true}}) {
        const std::string path = place.dataFolder + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
        if (fd < 0 && errno != ENOENT) {
            err << "tallimer : " << (folder ? "le dossier « " : "le fichier « ") << path
                << " » ne peut pas être lu : " << Reason(errno) << ".\n";
            return 1;
        }
        if (fd >= 0) ::close(fd);
    }
    AccountCollection accounts;
    Report report;
    LoadAll(place.dataFolder, accounts, report.overall);
    std::vector<std::string> names;
    for (const auto& [name, account] : accounts) names.push_back(name);
    if (live && live->online) names.push_back(live->account);
    auto rows = ReadNewestRows(place.dataFolder + "journal.sqlite", names, 4);
    for (const auto& [name, account] : accounts)
        report.accounts.push_back({name, account, std::move(rows[name])});
    if (live && live->online && !accounts.find(live->account))
        report.accounts.push_back({live->account, Account{}, std::move(rows[live->account])});
    report.live = live;
    report.silent = silent;
    report.now = LocalNow(clock);
    out << (command.kind == CommandKind::ReportJson ? ReportJson(report, french)
                                                    : ReportText(report, french));
    return 0;
}

}  // namespace tallimer
