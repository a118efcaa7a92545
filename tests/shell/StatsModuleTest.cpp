// The statistics window comes from a module loaded at its first opening: the program itself
// never loads the chart libraries, and a missing or foreign module gives a message, not a crash.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "accounts/AccountFiles.h"
#include "shell/HeadlessTray.h"
#include "shell/StatsModuleLoader.h"
#include "tests/common/FakeJournal.h"
#include "tests/common/Fakes.h"
#include "windows/FNPrinc.h"

namespace fs = std::filesystem;
using namespace tallimer;
using namespace tallimer::test;

namespace {

// The libraries an ELF file asks for when it is loaded, one a line.
std::string Needed(const fs::path& file) {
    std::string out;
    FILE* pipe = ::popen(("readelf -d '" + file.string() + "' 2>&1").c_str(), "r");
    if (!pipe) return out;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        const std::string line = buffer;
        if (line.find("(NEEDED)") != std::string::npos) out += line.substr(line.find('['));
    }
    ::pclose(pipe);
    return out;
}

class StatsModule : public ::testing::Test {
  protected:
    StatsModule() {
        fs::create_directory(dir.path() / "Comptes");
        fs::create_directory(dir.path() / "Factures");
        clock.local = {2001, 3, 2, 12, 0, 0, 0, 6};
        Account account;
        account.nextInvoice = EncodeDate(2001, 3, 15);
        WriteFile(dir.path() / "Comptes" / "Modem.fai", WriteAccount(account));
        JournalRow row;
        row.account = "Modem";
        row.startLocal = "2001-02-20T21:00:00";
        row.durationMs = 3723000;
        row.cost = 1.25f;
        row.end = JournalEnd::Normal;
        journal.rows = {row};
    }

    std::unique_ptr<TfPrinc> Window(std::vector<std::string> modulePaths) {
        PrincDependencies d{dir.str(), &clock,
                            &names,    &counters,
                            &tray,     [] { return std::vector<std::string>{"127.0.0.1"}; }};
        d.stats = LoadedStats(std::move(modulePaths));
        auto w = std::make_unique<TfPrinc>(d);
        w->OnlineIP1->SetEnabled(false);
        w->SetJournal(&journal);
        return w;
    }

    // The box the last opening left, its text; empty when none. The box goes.
    static QString TakeMessage(TfPrinc& w) {
        auto* box = w.findChild<QMessageBox*>();
        if (!box) return {};
        const QString text = box->text();
        EXPECT_TRUE(box->isVisible());
        delete box;
        return text;
    }

    // The statistics window's totals as the user sees them; empty when it is not shown.
    static QString ShownTotals(TfPrinc& w) {
        auto* stats = w.findChild<QWidget*>("fStats");
        if (!stats || !stats->isVisible()) return {};
        EXPECT_EQ(stats->windowTitle(), "Statistiques");
        auto* totals = stats->findChild<QLabel*>("lbTotaux");
        return totals ? totals->text() : QString();
    }

    TempDir dir;
    FakeClock clock;
    FakeConnectionName names;
    FakeCounters counters;
    HeadlessTray tray;
    FakeJournal journal;
};

}  // namespace

TEST_F(StatsModule, TheProgramLeavesChartsToTheModuleWhichOpensTheWindowFromTheBuildTree) {
    const fs::path app = BuildDir() / "app";
    const std::string program = Needed(app / "tallimer");
    ASSERT_NE(program.find("libQt6Widgets"), std::string::npos) << program;
    EXPECT_EQ(program.find("Charts"), std::string::npos) << program;
    // Qt's OpenGL modules come with Charts; the system's GL libraries come with Qt Gui.
    EXPECT_EQ(program.find("Qt6OpenGL"), std::string::npos) << program;
    EXPECT_NE(Needed(app / kStatsModuleFile).find("libQt6Charts"), std::string::npos);

    // Through the program's own search, as from build/app/tallimer.
    auto w = Window(StatsModulePaths(app.string()));
    w->Statistiques1->trigger();
    EXPECT_EQ(TakeMessage(*w).toStdString(), "");
    ASSERT_NE(w->statsWindow(), nullptr);
    // The account files and the journal's rows read across, figures exact.
    const QStringList totals = ShownTotals(*w).split('\n');
    EXPECT_EQ(totals.value(0).toStdString(), "Connexions\u00A0: 1");
    EXPECT_EQ(totals.value(1).toStdString(), "Durée totale\u00A0: 01:02:03");
    EXPECT_EQ(totals.value(2).toStdString(), "Coût total\u00A0: 1,25");
    // A second opening shows the same window again.
    StatsView* first = w->statsWindow();
    w->findChild<QWidget*>("fStats")->close();
    w->Statistiques1->trigger();
    EXPECT_EQ(w->statsWindow(), first);
    EXPECT_EQ(ShownTotals(*w).section(QChar(10), 0, 0).toStdString(), "Connexions\u00A0: 1");
}

TEST_F(StatsModule, AMissingOrForeignModuleIsSaidInFrenchAndTheProgramGoesOn) {
    const fs::path lib = dir.path() / "lib";
    const fs::path here = lib / "tallimer" / "modules" / kStatsModuleFile;
    fs::create_directories(here.parent_path());
    fs::create_directories(dir.path() / "bin");
    // The package's layout: the program in bin/, the module in lib/tallimer/modules/.
    auto w = Window(StatsModulePaths((dir.path() / "bin").string()));

    w->Statistiques1->trigger();
    EXPECT_EQ(TakeMessage(*w).toStdString(),
              "Les statistiques ne peuvent pas s'ouvrir\u00A0: module introuvable.");
    EXPECT_EQ(w->statsWindow(), nullptr);

    fs::copy_file(BuildDir() / "tests" / "libforeign_stats_module.so", here);
    w->Statistiques1->trigger();
    EXPECT_EQ(TakeMessage(*w).toStdString(),
              "Les statistiques ne peuvent pas s'ouvrir\u00A0: module d'une autre version.");
    EXPECT_EQ(w->statsWindow(), nullptr);

    fs::remove(here);
    WriteFile(here, "not a library");
    w->Statistiques1->trigger();
    EXPECT_EQ(TakeMessage(*w).toStdString(),
              "Les statistiques ne peuvent pas s'ouvrir\u00A0: module illisible.");
    EXPECT_EQ(w->statsWindow(), nullptr);

    // The program went on: the module put in place now opens at the next try.
    fs::remove(here);
    fs::copy_file(BuildDir() / "app" / kStatsModuleFile, here);
    w->Statistiques1->trigger();
    EXPECT_EQ(TakeMessage(*w).toStdString(), "");
    EXPECT_EQ(ShownTotals(*w).section(QChar(10), 0, 0).toStdString(), "Connexions\u00A0: 1");
}
