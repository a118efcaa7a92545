#include "windows/FNStats.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "accounts/AccountFiles.h"
#include "tests/common/Fakes.h"
#include "tests/common/GeneratedRows.h"
#include "tests/common/qt/FakeTrayShell.h"
#include "windows/FNPrinc.h"

using namespace tallimer;
using namespace tallimer::test;

namespace {

// The journal as the window reads it: rows held in memory, filtered like the store does.
class RowsJournal : public ConnectionJournal {
  public:
    std::vector<JournalRow> rows;
    int queries = 0;
    std::int64_t open(const JournalRow&) override { return 0; }
    void refresh(const JournalRow&) override {}
    void close(const JournalRow&) override {}
    void markOpenRowsCutShort() override {}
    std::vector<JournalRow> query(const JournalQuery& q) override {
        ++queries;
        std::vector<JournalRow> out;
        for (const JournalRow& r : rows)
            if ((q.account.empty() || r.account == q.account) &&
                (q.fromLocal.empty() || r.startLocal >= q.fromLocal) &&
                (q.toLocal.empty() || r.startLocal < q.toLocal))
                out.push_back(r);
        return out;
    }
    std::size_t importRows(const std::vector<JournalRow>&) override { return 0; }
    std::string takeError() override { return {}; }
};

JournalRow Row(const std::string& account, const std::string& start, std::int64_t ms, float cost) {
    JournalRow r;
    r.account = account;
    r.startLocal = start;
    r.durationMs = ms;
    r.cost = cost;
    r.end = JournalEnd::Normal;
    return r;
}

class StatsWindow : public ::testing::Test {
  protected:
    StatsWindow() {
        std::filesystem::create_directory(dir.path() / "Comptes");
        std::filesystem::create_directory(dir.path() / "Factures");
        clock.local = {2001, 3, 2, 12, 0, 0, 0, 6};  // a Friday noon
        Account account;
        account.nextInvoice = EncodeDate(2001, 3, 15);
        WriteFile(dir.path() / "Comptes" / "Modem.fai", WriteAccount(account));
        WriteFile(dir.path() / "Comptes" / "Autre.fai", WriteAccount(account));
        dependencies = {dir.str(), &clock, &names,
                        &counters, &tray,  [] { return std::vector<std::string>{"127.0.0.1"}; }};
        // The window made here, as the module makes it in the program.
        dependencies.stats = [](QWidget* parent, QString&) -> StatsView* {
            return new TfStats(parent);
        };
        window = std::make_unique<TfPrinc>(dependencies);
        window->OnlineIP1->SetEnabled(false);
    }

    static TfStats& Stats(TfPrinc& w) { return static_cast<TfStats&>(*w.statsWindow()); }
    QStringList totals() { return Stats(*window).lbTotaux->text().split('\n'); }

    TempDir dir;
    PrincDependencies dependencies;
    FakeClock clock;
    FakeConnectionName names;
    FakeCounters counters;
    FakeTrayShell tray;
    RowsJournal journal;
    std::unique_ptr<TfPrinc> window;
};

}  // namespace

TEST_F(StatsWindow, OpensFromTheMenuAndCtrlTWithTheJournalsFigures) {
    TfPrinc& w = *window;
    // Before any journal the window opens on empty figures.
    w.Statistiques1->trigger();
    ASSERT_TRUE(w.statsWindow());
    TfStats& s = Stats(w);
    EXPECT_TRUE(s.isVisible());
    EXPECT_EQ(s.windowTitle(), "Statistiques");
    EXPECT_EQ(totals().value(0), "Connexions : 0");
    s.close();

    journal.rows = {Row("Modem", "2001-02-15T23:59:59", 600000, 3),  // the last period's
                    Row("Modem", "2001-02-16T08:00:00", 3723000, 1.25f),
                    Row("Modem", "2001-03-01T21:00:00", 60000, 0.5f),
                    Row("Autre", "2001-03-01T10:00:00", 1000, 9)};
    journal.rows[2].bytesReceived = 1500000;
    w.SetJournal(&journal);
    names.name = "Modem";
    w.Connect();  // "Modem" becomes the current account, listed first

    w.show();  // the first show hides into the notification area: the user brings it back
    ASSERT_TRUE(QTest::qWaitFor([&w] { return !w.isVisible(); }));
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(s.isVisible());
    ASSERT_EQ(s.cbCompte->count(), 2);
    EXPECT_EQ(s.cbCompte->itemText(0), "Modem");
    EXPECT_EQ(s.cbCompte->itemText(1), "Autre");
    EXPECT_EQ(s.cbPeriode->itemText(0), "Période en cours (du 16/02/2001 au 15/03/2001)");
    EXPECT_EQ(s.cbPeriode->itemText(1), "Période du 16/01/2001 au 15/02/2001");
    QStringList t = totals();
    EXPECT_EQ(t.value(0), "Connexions : 2");
    EXPECT_EQ(t.value(1), "Durée totale : 01:03:03");
    EXPECT_EQ(t.value(2), "Coût total : 1,75");
    EXPECT_EQ(t.value(3), "Connexion moyenne : 00:31:31 pour 0,88");
    EXPECT_EQ(t.value(4), "Octets reçus : 1,5 Mo");
    EXPECT_TRUE(t.contains("Estimation en fin de période : 3,38 pour 02:01:45"));
    EXPECT_TRUE(t.contains("(14,5 jours écoulés, 13,5 jours restants)"));
    EXPECT_EQ(s.chJours->chart()->series().size(), 3);
    // "Soir et week-end": Saturday and Sunday stand out, no weekday hour does.
    auto bars = [](QChartView* view) {
        auto* series = qobject_cast<QBarSeries*>(view->chart()->series().value(0));
        return series ? series->barSets().value(0) : nullptr;
    };
    ASSERT_TRUE(bars(s.chSemaine) && bars(s.chHeures));
    QList<int> weekEnd = bars(s.chSemaine)->selectedBars();
    std::sort(weekEnd.begin(), weekEnd.end());
    EXPECT_EQ(weekEnd, (QList<int>{5, 6}));
    EXPECT_TRUE(bars(s.chHeures)->selectedBars().isEmpty());
    EXPECT_EQ(bars(s.chHeures)->at(21), 1);

    // The list sorts on the values and follows the date filter; the export takes what it shows.
    QAbstractItemModel* list = s.lvConnexions->model();
    ASSERT_EQ(list->rowCount(), 2);
    s.lvConnexions->sortByColumn(3, Qt::AscendingOrder);
    EXPECT_EQ(list->index(0, 3).data().toString(), "0,50");
    s.lvConnexions->sortByColumn(0, Qt::AscendingOrder);
    EXPECT_EQ(list->index(0, 2).data().toString(), "01:02:03");
    s.cbFiltre->setChecked(true);
    s.deDu->setDate(QDate(2001, 3, 1));
    ASSERT_EQ(list->rowCount(), 1);
    QString csv = QString::fromStdString((dir.path() / "export.csv").string());
    ASSERT_TRUE(s.ExportCsvTo(csv));
    EXPECT_EQ(ReadFile(dir.path() / "export.csv"), ExportCsv({journal.rows[2]}));

    // The other account and the previous period.
    s.cbPeriode->setCurrentIndex(1);
    EXPECT_EQ(totals().value(2), "Coût total : 3,00");
    s.cbCompte->setCurrentIndex(1);
    EXPECT_EQ(totals().value(2), "Coût total : 9,00");
}

// Pictures of a year of connections, for the build's artefacts.
TEST_F(StatsWindow, PicturesOfAYearOfConnections) {
    Account account;  // the generated rows' tariff
    account.nextInvoice = EncodeDate(2001, 3, 15);
    account.pricePerSecond = 0.0047f;
    account.offPeakPrice = 0.0025f;
    account.reductionType = 0;
    WriteFile(dir.path() / "Comptes" / "Modem.fai", WriteAccount(account));
    window.reset();
    window = std::make_unique<TfPrinc>(dependencies);
    window->OnlineIP1->SetEnabled(false);
    journal.rows = GeneratedRows("Modem", 1500, EncodeDate(2001, 3, 2));
    window->SetJournal(&journal);
    names.name = "Modem";
    window->Connect();
    window->Statistiques1->trigger();
    TfStats& s = Stats(*window);
    s.resize(1100, 800);
    s.cbPeriode->setCurrentIndex(s.cbPeriode->count() - 1);  // everything
    EXPECT_EQ(totals().value(0), "Connexions : 1500");
    const char* build = std::getenv("TALLIMER_BUILD_DIR");
    std::filesystem::path folder = build ? std::filesystem::path(build) / "artefacts" : dir.path();
    std::filesystem::create_directories(folder);
    s.cbPeriode->setCurrentIndex(0);
    for (int tab = 0; tab < s.tabGraphiques->count(); ++tab) {
        s.tabGraphiques->setCurrentIndex(tab);
        QString name = QString::fromStdString(
            (folder / ("statistiques-" + std::to_string(tab + 1) + ".png")).string());
        ASSERT_TRUE(s.grab().save(name, "PNG"));
    }
    QString chart = QString::fromStdString((folder / "statistiques-graphique.png").string());
    ASSERT_TRUE(s.SaveChartTo(chart));
    EXPECT_FALSE(QImage(chart).isNull());
}

// The account's alert settings typed in the window: refused when malformed, written to their
// own file, and the alerts they set off said once, at a connection's end as at the minute save,
// even after a restart.
TEST_F(StatsWindow, AlertSettingsAreTypedCheckedAndAlertOncePerPeriod) {
    TfPrinc& w = *window;
    names.name = "Modem";
    w.Connect();
    w.Statistiques1->trigger();
    TfStats& s = Stats(w);
    ASSERT_EQ(s.cbCompte->currentText(), "Modem");

    s.edBudget->setText("12 euros");
    EXPECT_FALSE(s.ApplyAlertSettings());
    EXPECT_EQ(s.lbAlertes->text(),
              "Budget invalide : tapez un montant en euros, par exemple 15,50.");
    s.edBudget->setText("10,5");
    s.edAlerteForfait->setText("2h");
    EXPECT_FALSE(s.ApplyAlertSettings());
    EXPECT_EQ(s.lbAlertes->text(),
              "Alerte forfait invalide : tapez une durée en heures et "
              "minutes, par exemple 1:30.");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "alertes.inf"));
    s.edAlerteForfait->setText("1:30");
    s.cbFeries->setChecked(true);
    EXPECT_TRUE(s.ApplyAlertSettings());
    EXPECT_EQ(ReadFile(dir.path() / "alertes.inf"), "Modem\t1\t10.5\t5400000\t0\t0\r\n");

    Account& modem = *w.accounts().find("Modem");
    modem.periodCost = 9;  // past 80 % within the connection's first minute
    w.Disconnect();
    ASSERT_EQ(tray.messages.size(), 1u);
    w.Connect();
    w.SaveTimerTimer();
    ASSERT_EQ(tray.messages.size(), 1u);
    EXPECT_EQ(tray.messages[0].toStdString().rfind(
                  "Le Tallimer Internet: 80 % du budget de la période : 9,00 € sur 10,50 €.", 0),
              0u);

    // A restart reads what was said already.
    window.reset();
    window = std::make_unique<TfPrinc>(dependencies);
    window->OnlineIP1->SetEnabled(false);
    window->Connect();
    window->accounts().find("Modem")->periodCost = 9.5f;
    window->SaveTimerTimer();
    EXPECT_EQ(tray.messages.size(), 1u);
    window->accounts().find("Modem")->periodCost = 11;
    window->SaveTimerTimer();
    ASSERT_EQ(tray.messages.size(), 2u);
    EXPECT_NE(tray.messages[1].indexOf("Budget de la période atteint : 11,00 € pour 10,50 €."), -1);
}
