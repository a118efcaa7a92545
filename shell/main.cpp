// Entry point: one copy per user, the main window and the invoice manager (its controls
// waiting for its first opening) made at start, the small dialogs and the statistics at their
// first use, and an end through the saving path however the program is asked to stop.
#include <unistd.h>
#include <climits>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <QDBusConnection>
#include <QGuiApplication>
#include <QScreen>
#include <QSessionManager>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "accounts/AccountFiles.h"
#include "controls/AppStyle.h"
#include "controls/ErrorReport.h"
#include "controls/RatePictures.h"
#include "metering/Report.h"
#include "metering/Session.h"
#include "platform/LinkCountersLinux.h"
#include "platform/NetworkManagerName.h"
#include "platform/SystemClock.h"
#include "shell/Application.h"
#include "shell/CommandLine.h"
#include "shell/ExitSignals.h"
#include "shell/HeadlessTray.h"
#include "shell/SessionBus.h"
#include "shell/SingleInstance.h"
#include "shell/StatsModuleLoader.h"
#include "support/DataFolder.h"
#include "support/FileWrite.h"
#include "windows/FNFacture.h"
#include "windows/FNPrinc.h"

using namespace tallimer;

namespace {

SessionBus* sessionBus = nullptr;

// A copy that is still starting listens a moment later: try for a while, then give up
// silently, as a message that finds no window goes nowhere.
void HandOver(const std::string& socketPath) {
    if (socketPath.empty()) return;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (SendShowMessage(socketPath)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// The folder of this program's file, without its trailing separator; empty when unknown.
std::string ExecutableFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof path)) return {};
    const std::string_view exe(path, static_cast<std::size_t>(n));
    return std::string(exe.substr(0, exe.rfind('/')));
}

void CentreOnScreen(QWidget& window) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* xdgDataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::string programFolder = ExecutableFolder();
    const DataFolderChoice data =
        ChooseDataFolder(programFolder, xdgDataHome ? xdgDataHome : "", home ? home : "");
    // The command line for scripts and status bars, before any lock, display or file is made.
    if (const Command command = ParseCommand(std::vector<std::string>(argv + 1, argv + argc));
        command.kind != CommandKind::Window) {
        const CommandPlace place{data.folder,
                                 {DataFolderLock(data.folder).holderSocket(),
                                  InstanceLock(InstanceLock::PrivateFolder(false)).socketPath()}};
        return RunCommand(command, place, TheSystemClock(), std::cout, std::cerr);
    }

    // Before anything else: a second copy needs no display and ends at once. The lock lives
    // only where no other user can reach it; without such a place the data folder's lock alone
    // keeps two copies apart.
    std::string noPlace;
    InstanceLock lock(InstanceLock::PrivateFolder(true, &noPlace));
    if (!noPlace.empty())
        std::cerr << "tallimer : " << noPlace
                  << " ; le programme démarre, mais une seconde copie ne pourra pas lui "
                     "demander de se montrer.\n";
    if (lock.acquire() == InstanceLock::Outcome::Second) {
        HandOver(lock.socketPath());
        return 0;
    }
    // A session with another runtime folder may run on the same data: the copy there is shown
    // if it can be reached, and this one ends having written nothing. The folder must exist to
    // hold its lock; nothing is written in it before the lock is ours.
    MakeFolder(data.folder);
    DataFolderLock folderLock(data.folder);
    if (folderLock.acquire(lock.socketPath()) == InstanceLock::Outcome::Second) {
        if (!folderLock.heldByAnotherUser()) {
            if (const std::string holder = folderLock.holderSocket(); !holder.empty())
                HandOver(holder);
            return 0;
        }
        // Another user's process is never this user's running copy.
        if (!folderLock.takeOver(lock.socketPath())) {
            std::cerr << "tallimer : le dossier de données « " << data.folder
                      << " » est tenu par un programme d'un autre utilisateur : le programme ne "
                         "peut pas démarrer sur ces données.\n";
            return 1;
        }
        std::cerr << "tallimer : un programme d'un autre utilisateur tenait le verrou du dossier "
                     "de données « "
                  << data.folder << " » ; ce verrou est remplacé et le programme démarre.\n";
    }

    // The data folder is read while the display connects: its accounts keep nobody waiting.
    PrepareDataFolder(data);
    DataRead dataRead;
    bool readAhead = false;
    std::jthread reader([&] {
        try {
            LoadAll(data.folder, dataRead.accounts, dataRead.state);
            readAhead = true;
        } catch (const std::exception&) {
            // The window reads it again and reports what it must.
        }
    });

    TApplication app(argc, argv);
    QApplication::setStyle(new TAppStyle);
    InstallFrenchQtTexts(app);
    QGuiApplication::setApplicationName(kApplicationTitle);
    QGuiApplication::setDesktopFileName("tallimer");
    QGuiApplication::setWindowIcon(AppIcon());
    // The program lives in the notification area: closing a dialog while the main window
    // is hidden must not end it.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    InstanceServer server;
    if (!lock.socketPath().empty()) server.listen(lock.socketPath());
    // From here a stop request waits for the loop instead of killing the program; before
    // the main window exists there is nothing to save (an error box may be waiting).
    ExitSignals exitSignals;
    QObject::connect(&exitSignals, &ExitSignals::exitRequested, &app, [] {
        if (!fPrinc) QCoreApplication::exit(0);
    });

    const bool headless = QGuiApplication::platformName() == "offscreen";
    std::unique_ptr<HeadlessTray> headlessTray;
    if (headless) headlessTray = std::make_unique<HeadlessTray>();

    std::unique_ptr<ConnectionNameSource> names = MakeConnectionNameSource();
    LinkCountersLinux counters;
    PrincDependencies dependencies;
    reader.join();
    if (readAhead) dependencies.dataRead = &dataRead;
    dependencies.appFolder = data.folder;
    dependencies.clock = &TheSystemClock();
    dependencies.names = names.get();
    // NetworkManager's name source also knows whether the link is metered.
    dependencies.meteredLink = dynamic_cast<MeteredLinkSource*>(names.get());
    dependencies.counters = &counters;
    dependencies.trayShell = headlessTray.get();
    dependencies.stats = LoadedStats(StatsModulePaths(programFolder));

    // The invoice manager outlives the main window, whose closing writes the running invoice.
    std::unique_ptr<TfFacture> facture;
    std::unique_ptr<TfPrinc> princ;
    try {
        // At start, in this order: fPrinc, then fFacture, which holds the running invoice.
        princ = std::make_unique<TfPrinc>(dependencies);
        fPrinc = princ.get();
        // fRegle, AboutBox, fModifPrix and fConfirm, which most runs never open, are made at
        // their first use; they belong to the main window and go with it.
        princ->MakeDialogsOnDemand();
        // The invoice manager's controls, too, wait for its first opening.
        facture = std::make_unique<TfFacture>(princ->AppFolder(), nullptr,
                                              TfFacture::Controls::AtFirstOpening);
        fFacture = facture.get();
        princ->SetInvoiceDesk(fFacture);
        princ->Recover();
    } catch (const std::exception& error) {
        ReportException(nullptr, error);
        return 0;
    }

    QObject::connect(&server, &InstanceServer::showRequested, fPrinc, &TfPrinc::WMShowInstance);
    QObject::connect(fPrinc, &TfPrinc::Closed, &app, [] { QCoreApplication::exit(0); });
    QObject::connect(&exitSignals, &ExitSignals::exitRequested, fPrinc, &TfPrinc::EndWithoutAsking);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, fPrinc,
                     [](QSessionManager&) { fPrinc->SaveForSessionEnd(); });
    // Whatever ends the loop, what was counted is written.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, fPrinc, [] {
        if (fPrinc) fPrinc->EndWithoutAsking();
    });

    // The session as the command line and the desktop's bus read it.
    // The session's state for the hand-over socket and the bus; each metering step wakes the bus.
    Session& session = fPrinc->session();
    session.setChangedListener([](const std::optional<SessionState>& ended) {
        if (sessionBus) sessionBus->changed(ended);
    });
    const std::function<SessionState()> sessionState = [&session] { return session.state(); };
    server.setStateAnswer([&] { return StateText(sessionState(), data.folder); });
    SessionBus bus(
        sessionState,
        [] {
            if (fPrinc) fPrinc->Statistiques1Click();
        },
        TheSystemClock());
    sessionBus = &bus;
    bus.offer(QDBusConnection::sessionBus());

    CentreOnScreen(*fPrinc);
    fPrinc->show();
#ifdef __GLIBC__
    // What starting up built and dropped (the data folder read, the windows made) goes back
    // to the system once, rather than staying resident for the program's whole life.
    QTimer::singleShot(std::chrono::seconds(3), [] { malloc_trim(0); });
#endif
    try {
        app.exec();
    } catch (const std::exception& error) {
        ReportException(nullptr, error);
    }
    sessionBus = nullptr;
    server.setStateAnswer(nullptr);
    fPrinc = nullptr;
    return 0;
}
