#include "windows/FNStats.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>

#include "accounts/AccountFiles.h"
#include "invoices/Invoices.h"
#include "shell/Application.h"
#include "tests/common/Fakes.h"
#include "tests/common/GeneratedRows.h"
#include "tests/common/qt/DialogChecks.h"
#include "tests/common/qt/FakeTrayShell.h"
#include "tests/common/qt/InvoiceFiles.h"
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
            if ((!q.account || r.account == *q.account) &&
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
    // A new run of the program on the folder and the journal, metering "Modem", its
    // statistics open at their default size.
    TfStats& reopen() {
        window = std::make_unique<TfPrinc>(dependencies);
        window->OnlineIP1->SetEnabled(false);
        window->SetJournal(&journal);
        names.name = "Modem";
        window->Connect();
        window->Statistiques1->trigger();
        Stats(*window).resize(900, 700);
        return Stats(*window);
    }
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
    EXPECT_EQ(totals().value(0), "Connexions\u00A0: 0");
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
    EXPECT_EQ(t.value(0), "Connexions\u00A0: 2");
    EXPECT_EQ(t.value(1), "Durée totale\u00A0: 01:03:03");
    EXPECT_EQ(t.value(2), "Coût total\u00A0: 1,75");
    EXPECT_EQ(t.value(3), "Connexion moyenne\u00A0: 00:31:31 pour 0,88");
    EXPECT_EQ(t.value(4), "Octets reçus\u00A0: 1,5 Mo");
    EXPECT_TRUE(t.contains("Estimation en fin de période\u00A0: 3,27 pour 01:57:41"));
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
    EXPECT_EQ(totals().value(2), "Coût total\u00A0: 3,00");
    s.cbCompte->setCurrentIndex(1);
    EXPECT_EQ(totals().value(2), "Coût total\u00A0: 9,00");
}

// Pictures of a year of connections at the window's own size, for the build's artefacts.
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
    s.resize(900, 700);  // the default size; the test screen is smaller
    s.cbPeriode->setCurrentIndex(s.cbPeriode->count() - 1);  // everything
    EXPECT_EQ(totals().value(0), "Connexions\u00A0: 1500");
    const char* build = std::getenv("TALLIMER_BUILD_DIR");
    std::filesystem::path folder = build ? std::filesystem::path(build) / "artefacts" : dir.path();
    std::filesystem::create_directories(folder);
    s.cbPeriode->setCurrentIndex(0);
    for (int tab = 0; tab < s.tabGraphiques->count(); ++tab) {
        s.tabGraphiques->setCurrentIndex(tab);
        QCoreApplication::processEvents();
        QString name = QString::fromStdString(
            (folder / ("statistiques-" + std::to_string(tab + 1) + ".png")).string());
        ASSERT_TRUE(s.grab().save(name, "PNG"));
    }
    s.tabGraphiques->setCurrentWidget(s.chSemaine);
    QString chart = QString::fromStdString((folder / "statistiques-graphique.png").string());
    ASSERT_TRUE(s.SaveChartTo(chart));
    EXPECT_FALSE(QImage(chart).isNull());
}

// A volume tariff typed beside the alerts: refused when malformed, then written to volume.inf;
// its figures and two charts for its account only, and nothing of it left once turned off.
TEST_F(StatsWindow, AVolumeTariffTypedShowsItsFiguresAndChartsForItsAccountOnly) {
    // What the link moved, and what the volume tariff counted of it.
    auto bytes = [](JournalRow r, std::uint64_t received, std::uint64_t sent,
                    std::uint64_t counted) {
        r.bytesReceived = received;
        r.bytesSent = sent;
        r.volumeBytes = counted;
        return r;
    };
    journal.rows = {
        bytes(Row("Modem", "2001-02-10T10:00:00", 60000, 1), 7 * kMo, 2 * kMo, 7 * kMo),
        // Before the tariff: the link's bytes, none counted.
        bytes(Row("Modem", "2001-02-20T10:00:00", 60000, 1), 170000 * kMo, 20000 * kMo, 0),
        bytes(Row("Modem", "2001-03-01T21:00:00", 60000, 1), 250 * kMo, 50 * kMo, 250 * kMo),
        bytes(Row("Modem", "2001-03-02T08:00:00", 60000, 1), 400 * kMo, 100 * kMo, 400 * kMo),
        Row("Autre", "2001-03-01T10:00:00", 1000, 9)};
    window->SetJournal(&journal);
    names.name = "Modem";
    window->Connect();
    window->Statistiques1->trigger();
    TfStats& s = Stats(*window);
    s.resize(900, 700);
    QTabWidget& tabs = *s.tabGraphiques;
    auto timeOnly = [&] {
        EXPECT_EQ(tabs.count(), 5);
        EXPECT_EQ(tabs.widget(4), s.pgVolume);
        EXPECT_FALSE(totals().join('\n').contains("Volume de la période"));
        EXPECT_TRUE(s.lbOffre->isHidden());
    };
    timeOnly();

    tabs.setCurrentWidget(s.pgVolume);
    s.cbVolume->setChecked(true);
    s.edVolumeInclus->setText("1,5 Gb");
    EXPECT_FALSE(s.ApplyAlertSettings());
    EXPECT_EQ(s.lbAlertes->text(),
              "«\u00A01,5 Gb\u00A0» n'est pas un volume correct\u00A0: tapez un nombre et son "
              "unité, par exemple "
              "500 Mo, 20 Go ou 1,5 Go.");
    s.edVolumeInclus->setText("1,5 Go");
    s.edPrixAuDela->setText("-0,05");
    EXPECT_FALSE(s.ApplyAlertSettings());
    EXPECT_EQ(s.lbAlertes->text(),
              "«\u00A0-0,05\u00A0» n'est pas un prix par Mo correct\u00A0: tapez un nombre positif "
              "ou nul, par "
              "exemple 0,05.");
    EXPECT_TRUE(window->session().volumes().empty());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "volume.inf"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "alertes.inf"));
    s.edPrixAuDela->setText("0,05");
    s.cbEnvoyes->setChecked(false);
    s.cbHeuresCreuses->setChecked(true);
    EXPECT_TRUE(s.ApplyAlertSettings());
    const std::string march15 = std::to_string(int(EncodeDate(2001, 3, 15)));
    EXPECT_EQ(ReadFile(dir.path() / "volume.inf"),
              "Modem\t1500000000\t0.05\t0\t0\t1\t" + march15 + "\t0\t0\t0\t0\t0\t0\r\n");
    // The local network left out: one more field, kept and shown again.
    s.cbReseauLocal->setChecked(true);
    EXPECT_TRUE(s.ApplyAlertSettings());
    EXPECT_EQ(ReadFile(dir.path() / "volume.inf"),
              "Modem\t1500000000\t0.05\t0\t0\t1\t" + march15 + "\t0\t0\t0\t0\t0\t0\t1\r\n");
    EXPECT_TRUE(window->session().volumes().at("Modem").tariff.leaveOutLocal);

    // The period's count as the meter kept it; the 2nd of March is the 15th of 28 days.
    VolumeAccount& counted = window->session().volumes().at("Modem");
    counted.periodBytes = 620 * kMo;
    counted.freeBytes = 30 * kMo;
    window->Statistiques1->trigger();
    EXPECT_EQ(s.edVolumeInclus->text(), "1,5 Go");
    EXPECT_TRUE(s.cbReseauLocal->isChecked());
    QStringList t = totals();
    for (const char* line :
         {"Volume\u00A0: 650 Mo pour 0,00", "Volume de la période\u00A0: 620 Mo sur 1,5 Go",
          "Volume estimé en fin de période\u00A0: 1,2 Go",
          "Reste par jour jusqu'au 15/03/2001\u00A0: 63 Mo",
          "Heures creuses gratuites\u00A0: 30 Mo"})
        EXPECT_TRUE(t.contains(QString::fromUtf8(line))) << line;
    // The charts count what the figures beside them count: the tariff's bytes, the 170 Go
    // moved before it in no bar; the day's cumulative ends on the period's volume with its
    // free hours. By start hour and by day, against the cap.
    ASSERT_EQ(tabs.count(), 7);
    EXPECT_EQ(tabs.tabText(4), "Volume par jour");
    EXPECT_EQ(tabs.tabText(5), "Volume par heure");
    auto* hours = qobject_cast<QBarSeries*>(s.chVolumeHeures->chart()->series().value(0));
    ASSERT_TRUE(hours);
    EXPECT_EQ(hours->barSets()[0]->at(21), 250);
    EXPECT_EQ(hours->barSets()[0]->at(8), 400);
    EXPECT_EQ(hours->barSets()[0]->at(10), 0);
    EXPECT_EQ(s.chVolumeHeures->chart()->axes(Qt::Vertical).value(0)->titleText(), "Volume (Mo)");
    QList<QAbstractSeries*> days = s.chVolumeJours->chart()->series();
    ASSERT_EQ(days.size(), 3);
    for (auto [series, last] : {std::pair{0, 0.4}, {1, 0.65}, {2, 1.5}}) {
        auto* line = qobject_cast<QLineSeries*>(days[series]);
        ASSERT_TRUE(line && line->count() > 0);
        EXPECT_DOUBLE_EQ(line->points().back().y(), last) << series;
    }
    EXPECT_EQ(s.chVolumeJours->chart()->axes(Qt::Vertical).value(0)->titleText(), "Volume (Go)");
    for (auto [widget, name] : {std::pair{static_cast<QWidget*>(s.pgVolume), "reglages"},
                                {s.chVolumeJours, "jour"},
                                {s.chVolumeHeures, "heure"}}) {
        tabs.setCurrentWidget(widget);
        QCoreApplication::processEvents();
        SavePicture(s.grab(), QString("statistiques-volume-") + name);
    }
    s.cbPeriode->setCurrentIndex(1);
    EXPECT_TRUE(totals().contains("Volume\u00A0: 7 Mo pour 0,00"));

    s.cbCompte->setCurrentIndex(1);
    timeOnly();
    s.cbCompte->setCurrentIndex(0);
    s.cbVolume->setChecked(false);
    EXPECT_TRUE(s.ApplyAlertSettings());
    EXPECT_EQ(ReadFile(dir.path() / "volume.inf"), "");
    timeOnly();
}

// Told by the desktop that the link is metered, the statistics offer the current account a
// volume tariff, and set none.
TEST_F(StatsWindow, AMeteredLinkOffersTheCurrentAccountAVolumeTariffAndSetsNone) {
    FakeMeteredLink link;
    link.metered = true;
    dependencies.meteredLink = &link;
    window = std::make_unique<TfPrinc>(dependencies);
    window->OnlineIP1->SetEnabled(false);
    names.name = "Modem";
    window->Connect();
    window->Statistiques1->trigger();
    TfStats& s = Stats(*window);
    EXPECT_FALSE(s.lbOffre->isHidden());
    EXPECT_EQ(QTextDocumentFragment::fromHtml(s.lbOffre->text()).toRawText(),
              "Le bureau signale cette connexion comme limitée (au volume). Vous pouvez lui "
              "donner un tarif au volume dans l'onglet «\u00A0Alertes et volume\u00A0».");
    emit s.lbOffre->linkActivated("volume");
    EXPECT_EQ(s.tabGraphiques->currentWidget(), s.pgVolume);
    EXPECT_FALSE(s.cbVolume->isChecked());
    SavePicture(s.grab(), "statistiques-volume-offre");
    s.cbCompte->setCurrentIndex(1);  // not the link's account
    EXPECT_TRUE(s.lbOffre->isHidden());
    s.cbCompte->setCurrentIndex(0);
    EXPECT_FALSE(s.lbOffre->isHidden());
    EXPECT_TRUE(window->session().volumes().empty());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "volume.inf"));

    link.metered = false;
    window->Statistiques1->trigger();
    EXPECT_TRUE(s.lbOffre->isHidden());
    link.metered = true;
    SetVolumeTariff(window->session().volumes(), "Modem", *window->accounts().find("Modem"), {});
    window->Statistiques1->trigger();
    EXPECT_TRUE(s.lbOffre->isHidden());
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
              "Budget invalide\u00A0: tapez un montant en euros, par exemple 15,50.");
    s.edBudget->setText("10,5");
    s.edAlerteForfait->setText("2h");
    EXPECT_FALSE(s.ApplyAlertSettings());
    EXPECT_EQ(s.lbAlertes->text(),
              "Alerte forfait invalide\u00A0: tapez une durée en heures et "
              "minutes, par exemple 1:30.");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "alertes.inf"));
    s.edAlerteForfait->setText("1:30");
    s.cbFeries->setChecked(true);
    EXPECT_TRUE(s.ApplyAlertSettings());
    EXPECT_EQ(
        ReadFile(dir.path() / "alertes.inf"),
        "Modem\t1\t10.5\t5400000\t" + std::to_string(int(EncodeDate(2001, 3, 15))) + "\t0\r\n");

    Account& modem = *w.accounts().find("Modem");
    modem.periodCost = 9;  // past 80 % within the connection's first minute
    w.Disconnect();
    ASSERT_EQ(tray.messages.size(), 1u);
    w.Connect();
    w.SaveTimerTimer();
    ASSERT_EQ(tray.messages.size(), 1u);
    EXPECT_EQ(
        tray.messages[0].toStdString().rfind(
            "Le Tallimer Internet: 80\u00A0% du budget de la période\u00A0: 9,00 € sur 10,50 €.",
            0),
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
    EXPECT_NE(tray.messages[1].indexOf("Budget de la période atteint\u00A0: 11,00 € pour 10,50 €."),
              -1);
}

// What an existing user brings: the account of no name (no NetworkManager), a running invoice
// any of the accounts could own, with a package fee, two identical lines and a hand-typed one,
// and the archive of an account whose name was too long for a file name.
TEST_F(StatsWindow, UnnamedAccountAndImportedHistoryCountedRight) {
    const Locale fr = Locale::french();
    AccountCollection accounts;
    for (const std::string& name :
         {std::string("Modem"), std::string("Autre"), std::string(), std::string(296, 'n')})
        accounts.findOrCreate(name).nextInvoice = EncodeDate(2001, 3, 15);
    Account& unnamed = *accounts.find("");
    unnamed.packageEnabled = true;
    unnamed.packageDuration = 10 * 3600000;
    unnamed.packageRemaining = 3600000 - 1;  // under the default tenth of the package
    ASSERT_TRUE(SaveAll(dir.str(), accounts, {}));
    WriteFile(dir.path() / "alertes.inf", "\t0\t0.5\t-1\t0\t0\r\n");  // a 0,50 budget
    const DateTime march1 = EncodeDate(2001, 3, 1);
    const std::string twice = InvoiceLineText(march1 + 0.75, 60000, 0.5f, fr);
    WriteInvoice(dir.str() + "temp.rtf", {"Facture", InvoiceLineText(march1 + 0.5, 0, 1, fr),
                                          InvoiceLineText(march1 + 0.5, 120000, 3, fr), twice,
                                          twice, "\t01 mars 01, 20:00:00\t00:01:00\t2,50 €"});
    WriteInvoice(ArchivePath(dir.str(), std::string(296, 'n'), EncodeDate(2001, 2, 15), fr),
                 {"Facture", InvoiceLineText(EncodeDate(2001, 2, 10), 60000, 0.46f, fr)});
    window.reset();
    window = std::make_unique<TfPrinc>(dependencies);
    window->OnlineIP1->SetEnabled(false);
    TfPrinc& w = *window;
    w.journal();
    while (w.importingHistory()) QCoreApplication::processEvents();  // taken in by slices
    w.Statistiques1->trigger();
    TfStats& s = Stats(w);
    EXPECT_EQ(tray.messages,
              std::vector<QString>{"Le Tallimer Internet: Import de l'historique\u00A0: "
                                   "1 ligne non reconnue, ignorée."});
    auto choose = [&s](const QString& shown) {
        const int at = s.cbCompte->findData(shown, Qt::ToolTipRole);
        s.cbCompte->setCurrentIndex(at);
        return at >= 0;
    };
    EXPECT_LE(s.frameGeometry().width(), s.screen()->availableGeometry().width());
    ASSERT_TRUE(choose(QString(296, 'n')));
    EXPECT_LT(s.cbCompte->currentText().size(), 100);
    s.cbPeriode->setCurrentIndex(1);
    EXPECT_EQ(totals().value(0), "Connexions\u00A0: 1");

    // temp.rtf fits every account's period: kept apart, its fee once and no connection.
    ASSERT_TRUE(choose("Historique importé"));
    EXPECT_FALSE(s.bnAlertes->isEnabled());
    QStringList t = totals();
    EXPECT_EQ(t.value(0), "Connexions\u00A0: 3");
    EXPECT_EQ(t.value(2), "Coût total\u00A0: 4,00");
    EXPECT_TRUE(t.contains("Connexions importées des factures\u00A0: pas de détail par tarif"));
    EXPECT_TRUE(t.contains("Prix du forfait\u00A0: 1,00"));
    // No billing date of its own: the calendar month, 2 days counted.
    EXPECT_TRUE(t.contains("Estimation en fin de période\u00A0: 47,50 pour 01:02:00"));

    // The unnamed account: listed, its alerts kept and said, the package's by default.
    names.name = "";
    w.Connect();
    w.accounts().find("")->periodCost = 0.7f;
    w.SaveTimerTimer();
    ASSERT_EQ(tray.messages.size(), 3u);
    EXPECT_NE(tray.messages[1].indexOf("Forfait presque épuisé"), -1);
    EXPECT_NE(tray.messages[2].indexOf("Budget de la période atteint\u00A0: 0,70 € pour 0,50 €."),
              -1);
    EXPECT_EQ(ReadFile(dir.path() / "alertes.inf").rfind("\t0\t0.5\t-1\t", 0), 0u);
    w.Disconnect();
    w.Statistiques1->trigger();
    ASSERT_TRUE(choose("(sans nom)"));
    EXPECT_EQ(s.edBudget->text(), "0,50");
    EXPECT_EQ(totals().value(0), "Connexions\u00A0: 1");
}

// The charts and the window as a newcomer reads them at the default size.
TEST_F(StatsWindow, ChartsAndWindowReadTrueAtTheDefaultSize) {
    journal.rows = {Row("Modem", "2001-03-01T21:00:00", 600000, 1.13f)};
    for (int i = 0; i < 3; ++i) journal.rows.push_back(Row("Modem", "2001-02-23T08:00:00", 1, 0));
    window->SetJournal(&journal);
    names.name = "Modem";
    window->Connect();
    window->Statistiques1->trigger();
    TfStats& s = Stats(*window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
    s.resize(900, 700);  // the default size; the test screen is smaller

    // Counts on whole ticks, money and minutes on round steps.
    auto axis = [](QChartView* view, Qt::Orientation along, Qt::Alignment side) {
        for (QAbstractAxis* a : view->chart()->axes(along))
            if (a->alignment() == side) return a;
        return static_cast<QAbstractAxis*>(nullptr);
    };
    for (auto [view, side, whole] : {std::tuple{s.chHeures, Qt::AlignLeft, true},
                                     {s.chSemaine, Qt::AlignLeft, true},
                                     {s.chJours, Qt::AlignLeft, false},
                                     {s.chJours, Qt::AlignRight, true},
                                     {s.chMois, Qt::AlignLeft, false}}) {
        auto* y = qobject_cast<QValueAxis*>(axis(view, Qt::Vertical, side));
        ASSERT_TRUE(y && y->tickType() == QValueAxis::TicksDynamic && y->tickAnchor() == 0);
        const double step = y->tickInterval();
        const double mantissa = std::round(step / std::pow(10.0, std::floor(std::log10(step))));
        EXPECT_TRUE(mantissa == 1 || mantissa == 2 || mantissa == 5) << step;
        EXPECT_NEAR(std::remainder(y->max(), step), 0, 1e-9);
        EXPECT_TRUE(!whole || step == std::round(step)) << step;
    }
    EXPECT_EQ(qobject_cast<QValueAxis*>(axis(s.chHeures, Qt::Vertical, Qt::AlignLeft))->max(), 3);

    // Every label has room: the hours and the months every other one.
    for (QChartView* view : {s.chMois, s.chHeures, s.chSemaine}) {
        s.tabGraphiques->setCurrentWidget(view);
        QCoreApplication::processEvents();
        QAbstractAxis* x = axis(view, Qt::Horizontal, Qt::AlignBottom);
        QStringList labels{"22"};  // the widest hour
        if (auto* days = qobject_cast<QBarCategoryAxis*>(x)) labels = days->categories();
        if (auto* months = qobject_cast<QCategoryAxis*>(x)) labels = months->categoriesLabels();
        auto* hours = qobject_cast<QCategoryAxis*>(x) ? nullptr : qobject_cast<QValueAxis*>(x);
        const double room =
            hours ? (hours->max() - hours->min()) / hours->tickInterval() : labels.size();
        for (const QString& label : labels)
            EXPECT_LT(QFontMetrics(x->labelsFont()).horizontalAdvance(label),
                      0.7 * view->chart()->plotArea().width() / room)
                << label.toStdString();
    }

    // A note after "Appliquer" leaves the list where it was, even where the figures take the
    // whole top (a larger font).
    QFont larger = s.font();
    larger.setPointSizeF(larger.pointSizeF() * 1.4);
    s.setFont(larger);
    QCoreApplication::processEvents();
    const QRect list = s.lvConnexions->geometry();
    s.edAlerteForfait->setText("2h");  // the longest note
    EXPECT_FALSE(s.ApplyAlertSettings());
    QCoreApplication::processEvents();
    EXPECT_EQ(s.lvConnexions->geometry(), list);

    // Exports a desktop opens: a French dialog in the documents, a name with its extension.
    EXPECT_EQ(s.SuggestedFileName(TfStats::ExportKind::Csv), "Modem 16-02-2001 au 15-03-2001.csv");
    EXPECT_EQ(TfStats::WithExtension("/d/export", TfStats::ExportKind::Png), "/d/export.png");
    std::unique_ptr<QFileDialog> dialog = s.ExportDialog(TfStats::ExportKind::Json);
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog->labelText(QFileDialog::Accept), "Enregistrer");
    EXPECT_EQ(dialog->selectedFiles().value(0),
              QDir(dialog->directory()).filePath("Modem 16-02-2001 au 15-03-2001.json"));
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(dialog->directory().absolutePath(),
              QDir(documents).exists() ? documents : QDir::homePath());

    QTest::keyClick(&s, Qt::Key_Escape);
    EXPECT_FALSE(s.isVisible());
}

namespace {

// The user's part in the modal windows that come up one after another: each step waits for
// the window it is for, then acts on it. A step never met ends the test's wait with a failure.
struct Step {
    std::function<bool(QWidget*)> is;
    std::function<void(QWidget*)> act;
};
void Play(std::shared_ptr<std::deque<Step>> steps, int looks = 0) {
    QTimer::singleShot(5, qApp, [steps, looks] {
        QWidget* shown = QApplication::activeModalWidget();
        if (steps->empty()) return;
        if (!shown || !shown->isVisible() || !steps->front().is(shown)) {
            if (looks < 2000) return Play(steps, looks + 1);
            ADD_FAILURE() << "a window never came up";
            if (shown) static_cast<QDialog*>(shown)->reject();
            return;
        }
        const Step step = steps->front();
        steps->pop_front();
        Play(steps);  // goes on watching while this step waits in a window of its own
        step.act(shown);
    });
}
template <class Window>
bool Is(QWidget* w) {
    return qobject_cast<Window*>(w) != nullptr;
}

}  // namespace

// At its default size the window holds what it shows: the list keeps eight rows and every tab
// its whole label, before and after "Appliquer" sets a budget and a volume tariff from the
// keyboard where the offer note was; the texts it adds are French, « ko » included.
TEST_F(StatsWindow, AtItsDefaultSizeTheListKeepsItsRowsAndEveryTabItsLabel) {
    FakeMeteredLink link;
    link.metered = true;
    dependencies.meteredLink = &link;
    journal.rows = GeneratedRows("Modem", 400, EncodeDate(2001, 3, 2));
    TfStats& s = reopen();
    QApplication::setActiveWindow(&s);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&s));
    ASSERT_EQ(s.size(), QSize(900, 700));
    auto laidOut = [&s](const char* when) {
        QTabBar* bar = s.tabGraphiques->tabBar();
        for (int tab = 0; tab < bar->count(); ++tab) {
            s.tabGraphiques->setCurrentIndex(tab);
            QCoreApplication::processEvents();
            const QTableView& list = *s.lvConnexions;
            EXPECT_GE(list.viewport()->height() / list.rowHeight(0), 8) << when;
            const QRect label = bar->tabRect(tab).adjusted(4, 2, -4, -2);
            EXPECT_TRUE(bar->rect().contains(bar->tabRect(tab)));
            EXPECT_TRUE(label.contains(bar->fontMetrics().boundingRect(
                label, Qt::AlignCenter | Qt::TextWordWrap, bar->tabText(tab))))
                << bar->tabText(tab).toStdString();
            SavePicture(s.grab(), QString("statistiques-%1-%2").arg(when).arg(tab + 1));
        }
        EXPECT_TRUE(s.rect().contains(QRect(bar->mapTo(&s, QPoint()), bar->size())));
        // The figures whole, however many lines they have.
        EXPECT_GE(s.lbTotaux->height(), s.lbTotaux->sizeHint().height()) << when;
    };
    laidOut("avant");

    // The offer's link by Tab and Return, then the settings typed and applied by Return.
    for (int i = 0; i < 40 && QApplication::focusWidget() != s.lbOffre; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), s.lbOffre);
    QTest::keyClick(s.lbOffre, Qt::Key_Return);
    EXPECT_EQ(s.tabGraphiques->currentWidget(), s.pgVolume);
    EXPECT_EQ(QApplication::focusWidget(), s.cbVolume)
        << QApplication::focusWidget()->metaObject()->className();
    QTest::keyClick(s.cbVolume, Qt::Key_Space);
    QTest::keyClicks(s.edBudget, "abc");
    QTest::keyClick(s.edBudget, Qt::Key_Return);
    const QString refused = s.lbAlertes->text();
    s.edBudget->setText("250");
    QTest::keyClicks(s.edVolumeInclus, "1,5 Go");
    QTest::keyClick(s.edVolumeInclus, Qt::Key_Return);
    EXPECT_EQ(s.lbAlertes->text(), "Réglages enregistrés.");
    EXPECT_EQ(window->session().alerts()["Modem"].budget, 250);
    ASSERT_EQ(window->session().volumes().count("Modem"), 1u);
    window->session().volumes()["Modem"].periodBytes = 1234;
    window->Statistiques1->trigger();
    s.resize(900, 700);
    EXPECT_TRUE(s.lbOffre->isHidden());
    ASSERT_EQ(s.tabGraphiques->count(), 7);
    laidOut("apres");
    // Room for more charts to come: an eighth tab keeps every label whole.
    auto* more = new QWidget;
    s.tabGraphiques->addTab(more, "Par application");
    s.resize(900, 700);
    EXPECT_EQ(s.size(), QSize(900, 700));
    laidOut("huit");
    delete more;
    // Heard by a screen reader as read beside them, and reached by their letters.
    ExpectNamedAndReachedByAlt(s);
    const std::pair<QWidget*, const char*> said[] = {{s.edBudget, "Budget de la période"},
                                                     {s.edAlerteForfait, "Alerte forfait (reste)"},
                                                     {s.edVolumeInclus, "Volume inclus"},
                                                     {s.edPrixAuDela, "Prix par Mo au-delà"},
                                                     {s.edPrixParMo, "Prix par Mo"},
                                                     {s.deDu, "Du"},
                                                     {s.deAu, "au"},
                                                     {s.lvConnexions, "Connexions"}};
    for (auto [control, name] : said) EXPECT_EQ(Name(control), QString::fromUtf8(name)) << name;
    EXPECT_EQ(LabelledBy(s.cbCompte), "Compte\u00A0:");
    EXPECT_EQ(LabelledBy(s.cbPeriode), "Période\u00A0:");

    // What the window writes itself: a no-break space before : ; ? ! % and inside « », units
    // in small letters, and every label of a field ending alike.
    QStringList texts{refused, s.lbTotaux->text()};
    for (QWidget* w : s.findChildren<QWidget*>()) {
        for (const char* property : {"text", "placeholderText", "title"})
            texts << w->property(property).toString();
        if (auto* label = qobject_cast<QLabel*>(w); label && label->buddy()) {
            EXPECT_TRUE(label->text().endsWith("\u00A0:")) << label->text().toStdString();
        }
    }
    for (QChartView* view : s.findChildren<QChartView*>()) {
        texts << view->chart()->title();
        for (QAbstractAxis* axis : view->chart()->axes()) texts << axis->titleText();
    }
    for (int tab = 0; tab < s.tabGraphiques->count(); ++tab) texts << s.tabGraphiques->tabText(tab);
    static const QRegularExpression loose(" [:;?!%]|« | »|\\bKo\\b");
    for (const QString& text : texts) EXPECT_FALSE(text.contains(loose)) << text.toStdString();
    EXPECT_TRUE(s.lbTotaux->text().contains(" ko") || s.lbTotaux->text().contains("\u00A0ko"));

    // Large text, as a desktop's accessibility setting gives it: the list keeps its rows.
    const QFont normal = QApplication::font();
    QFont large = normal;
    large.setPointSizeF(normal.pointSizeF() * 1.25);
    QApplication::setFont(large);
    TfStats& larger = reopen();
    QCoreApplication::processEvents();
    QApplication::setFont(normal);
    EXPECT_EQ(larger.size(), QSize(900, 700));
    EXPECT_GE(larger.lvConnexions->viewport()->height() / larger.lvConnexions->rowHeight(0), 8);
}

// The charts say what the figures beside them say: on a period's first day its one day is a
// point to see, and a connection's volume money is a line of its own, not a time rate's.
TEST_F(StatsWindow, OnThePeriodsFirstDayThePointShowsAndTheVolumesMoneyIsItsOwn) {
    Account account;
    account.nextInvoice = EncodeDate(2001, 3, 15);
    account.pricePerSecond = 0.001f;
    account.offPeakPrice = 0.0005f;
    WriteFile(dir.path() / "Comptes" / "Modem.fai", WriteAccount(account));
    VolumeBook book;
    SetVolumeTariff(book, "Modem", account, {kMo, 0.05f, 0, true, false});
    ASSERT_TRUE(SaveVolumeBook(dir.str() + kVolumeFile, book));
    clock.local = {2001, 2, 16, 18, 0, 0, 0, 6};  // the period's first day
    JournalRow r = Row("Modem", "2001-02-16T10:00:00", 70000, 1.26f);
    r.normalMs = 30000;   // 0,03
    r.reducedMs = 40000;  // 0,02
    r.volumeBytes = 25200 * kMo;
    r.volumeCost = 1.21f;
    r.bytesReceived = 25200 * kMo;
    journal.rows = {r};
    TfStats& s = reopen();
    const QStringList t = totals();
    for (const char* line :
         {"Tarif normal\u00A0: 00:00:30 pour 0,03", "Tarif réduit\u00A0: 00:00:40 pour 0,02",
          "Volume\u00A0: 25 Go pour 1,21", "Économie du tarif réduit\u00A0: 0,02"})
        EXPECT_TRUE(t.contains(QString::fromUtf8(line))) << line;

    for (QChartView* view : {s.chJours, s.chVolumeJours}) {
        s.tabGraphiques->setCurrentWidget(view);
        QCoreApplication::processEvents();
        const QImage shot = view->grab().toImage();
        const QRect plot = view->mapFromScene(view->chart()->mapToScene(view->chart()->plotArea()))
                               .boundingRect()
                               .adjusted(1, 1, -1, -1);
        int seen = 0;
        for (QAbstractSeries* series : view->chart()->series()) {
            auto* line = qobject_cast<QLineSeries*>(series);
            if (!line || line->count() != 1) continue;
            for (int y = plot.top(); y <= plot.bottom(); ++y)
                for (int x = plot.left(); x <= plot.right(); ++x)
                    seen += QColor(shot.pixel(x, y)) == line->color();
        }
        EXPECT_GT(seen, 0) << view->objectName().toStdString();
    }
}

// An export never replaces a file without asking, even when the extension it adds makes the
// name typed into an existing file's.
TEST_F(StatsWindow, AnExportAsksBeforeReplacingAFileTheExtensionNames) {
    window->Statistiques1->trigger();
    TfStats& s = Stats(*window);
    const QString folder = QString::fromStdString(dir.str());
    WriteFile(dir.path() / "sans-extension.csv", "les 21 octets de Anne");
    WriteFile(dir.path() / "a.b.csv", "une autre feuille");
    auto name = [folder](const QString& typed) {
        return [folder, typed](QWidget* w) {
            auto* dialog = static_cast<QFileDialog*>(w);
            dialog->setDirectory(folder);
            QLineEdit* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            QApplication::setActiveWindow(dialog);
            edit->setFocus();
            edit->clear();
            QTest::keyClicks(edit, typed);
            QTest::keyClick(edit, Qt::Key_Return);
        };
    };
    QStringList asked;
    auto answer = [&asked](QMessageBox::StandardButton button) {
        return [&asked, button](QWidget* w) {
            auto* box = static_cast<QMessageBox*>(w);
            asked << box->text();
            box->button(button)->click();
        };
    };
    Play(std::make_shared<std::deque<Step>>(
        std::deque<Step>{{Is<QFileDialog>, name("sans-extension")},
                         {Is<QMessageBox>, answer(QMessageBox::No)},
                         {Is<QFileDialog>, name("a.b")},
                         {Is<QMessageBox>, answer(QMessageBox::No)},
                         {Is<QFileDialog>, name("a.b")},
                         {Is<QMessageBox>, answer(QMessageBox::Yes)}}));
    s.bnCsv->click();
    ASSERT_EQ(asked.size(), 3);
    EXPECT_TRUE(asked[0].contains("sans-extension.csv")) << asked[0].toStdString();
    EXPECT_TRUE(asked[1].contains("a.b.csv")) << asked[1].toStdString();
    EXPECT_EQ(ReadFile(dir.path() / "sans-extension.csv"), "les 21 octets de Anne");
    EXPECT_EQ(ReadFile(dir.path() / "a.b.csv"), ExportCsv({}));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "a.b"));

    // The save dialog's columns whole at its own size, "Dernière modification" included.
    QTranslator* french = InstallFrenchQtTexts(*QCoreApplication::instance());
    ASSERT_TRUE(french);
    std::unique_ptr<QFileDialog> dialog = s.ExportDialog(TfStats::ExportKind::Csv);
    dialog->show();
    QCoreApplication::processEvents();
    auto* files = dialog->findChild<QTreeView*>("treeView");
    ASSERT_TRUE(files);
    int columns = 0;
    for (int i = 0; i < files->header()->count(); ++i) {
        EXPECT_GE(files->header()->sectionSize(i), files->header()->sectionSizeHint(i)) << i;
        columns += files->header()->sectionSize(i);
    }
    EXPECT_LE(columns, files->viewport()->width());
    EXPECT_EQ(files->model()->headerData(3, Qt::Horizontal).toString(), "Dernière modification");
    QCoreApplication::removeTranslator(french);
    delete french;
}
