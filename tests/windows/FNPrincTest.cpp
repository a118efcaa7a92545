#include "windows/FNPrinc.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <filesystem>
#include <memory>
#include <vector>

#include "accounts/AccountFiles.h"
#include "controls/ErrorReport.h"
#include "controls/WholeText.h"
#include "invoices/Invoices.h"
#include "metering/Volume.h"
#include "richtext/RichInvoice.h"
#include "support/Date.h"
#include "support/Errors.h"
#include "tests/common/Fakes.h"
#include "windows/FNConfirme.h"
#include "windows/FNFacture.h"

using namespace tallimer;
using tallimer::test::FakeInvoice;
using tallimer::test::MeteringGround;
using tallimer::test::ReadFile;
using tallimer::test::TempDir;
using tallimer::test::WriteFile;

namespace {

// The manager's desk over a fake running invoice: each change goes to the invoice, then to
// its file (`save`). A connection's end is a line like any other here.
class DeskOver : public InvoiceDesk {
  public:
    DeskOver(const TfPrinc& window, FakeInvoice* invoice, std::function<void()> save)
        : folder_(window.AppFolder()), invoice_(invoice), save_(std::move(save)) {}

    bool saveRunning() override {
        if (save_) save_();
        return true;
    }
    void addLine(DateTime when, msTIME duration, float amount, const std::string&) override {
        if (!invoice_) return;
        AddInvoiceLine(*invoice_, when, duration, amount, Locale::french());
        saveRunning();
    }
    void endConnection(DateTime when, msTIME duration, float amount, const std::string&,
                       const Account&, TotalTime, float) override {
        addLine(when, duration, amount, {});
    }
    void closePeriod(Account& account, const std::string& name, DateTime today) override {
        if (!invoice_) return;
        ClosePeriod(account, name, folder_, *invoice_, Locale::french(), today);
        saveRunning();
    }

  private:
    std::string folder_;
    FakeInvoice* invoice_;
    std::function<void()> save_;
};

// The notification area as the window drives it: remembers the last icon and hint.
class RecordingTray : public TrayShell {
  public:
    bool refuse = false;
    bool area = true;  // the desktop has a notification area
    int adds = 0;
    QIcon icon;
    QString tip;
    bool add(const QIcon& i, const QString& t) override {
        if (refuse) return false;
        ++adds;
        icon = i;
        tip = t;
        return true;
    }
    bool modify(const QIcon& i, const QString& t) override {
        icon = i;
        tip = t;
        return true;
    }
    bool remove() override { return true; }
    void popupMenu(QMenu*, QPoint) override {}
    QPoint cursorPos() const override { return {}; }
    Qt::KeyboardModifiers modifiers() const override { return {}; }
    bool available() const override { return area; }
};

QImage Picture(const QPixmap& p) {
    return p.toImage().convertToFormat(QImage::Format_ARGB32);
}
QImage Picture(const QIcon& i) {
    return Picture(i.pixmap(32, 32));
}

// Collects what reaches the standard error report.
class ReportCapture {
  public:
    ReportCapture() {
        previous_ = SetErrorReportHandler(
            [this](QObject*, const std::exception& e) { messages.push_back(e.what()); });
    }
    ~ReportCapture() { SetErrorReportHandler(previous_); }
    std::vector<std::string> messages;

  private:
    ErrorReportHandler previous_;
};

class MainWindow : public ::testing::Test, protected MeteringGround {
  protected:
    TfPrinc& make() {
        PrincDependencies d{dir.str(), &clock, &names,
                            &counters, &tray,  [this] { return addresses; }};
        d.dataRead = dataRead;
        window = std::make_unique<TfPrinc>(d);
        // Polls come from the tests, not from the clock.
        window->OnlineIP1->SetEnabled(false);
        return *window;
    }

    void tick(int ms) {
        clock.advance(ms);
        window->meter().TimerTick();
    }

    RecordingTray tray;
    std::vector<std::string> addresses{"127.0.0.1"};
    DataRead* dataRead = nullptr;  // what the program reads ahead of the window
    std::unique_ptr<TfPrinc> window;
};

// The help's tables name what the toolbar and the icon's menu really hold, and how to reach
// them without a notification area: Ctrl+T, and the menu on a right-click in the window.
TEST_F(MainWindow, HelpTablesMatchTheCommandsAndTheMenuNeedsNoTray) {
    tray.area = false;
    TfPrinc& w = make();
    const char* source = std::getenv("TALLIMER_SOURCE_DIR");
    ASSERT_TRUE(source);
    const QString help =
        QString::fromStdString(ReadFile(std::filesystem::path(source) / "data" / "aide.html"));
    // A table's commands and their shortcuts, as the help writes them.
    auto table = [&help](const QString& heading) {
        const qsizetype from = help.indexOf(heading);
        const QString rows = help.mid(from, help.indexOf("</table>", from) - from);
        QStringList names, keys;
        static const QRegularExpression cells("<tr><td>([^<]*)</td><td>(.*?)</td>");
        static const QRegularExpression tag("<[^>]*>");
        for (const auto& m : cells.globalMatch(rows)) {
            names << m.captured(1).replace("&nbsp;", " ");
            keys << m.captured(2).remove(tag).replace("Échap", "Esc");
        }
        return std::pair{names, keys};
    };
    QStringList toolbar, toolbarKeys, menu, menuKeys;
    for (QAction* a : w.ToolBar1->actions())
        if (!a->isSeparator()) {
            toolbar << a->text();
            toolbarKeys << a->shortcut().toString();
        }
    for (QAction* a : w.PopupMenu1->actions()) {
        menu << a->text().remove('&');
        menuKeys << a->shortcut().toString();
    }
    EXPECT_EQ(table("<h3>La barre d'outils</h3>"), std::pair(toolbar, toolbarKeys));
    EXPECT_EQ(table("<h2 id=\"menu\">"), std::pair(menu, menuKeys));
    EXPECT_NE(help.indexOf("<kbd>Ctrl</kbd>+<kbd>T</kbd>"), -1);

    w.show();
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(10, 10),
                            w.mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(&w, &click);
    EXPECT_TRUE(w.PopupMenu1->isVisible());
    w.PopupMenu1->close();
}

TEST_F(MainWindow, DescribesItsToolbarMenuAndFields) {
    TfPrinc& w = make();
    EXPECT_EQ(w.windowTitle(), "Le Tallimer Internet");
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.minimumSize(), w.maximumSize());

    // Toolbar order, hints and separators after bnGo, bnRegle and bnAide.
    QStringList order;
    for (QAction* a : w.ToolBar1->actions())
        order << (a->isSeparator() ? QString("|") : a->objectName());
    EXPECT_EQ(order.join(' '),
              "bnGo | bnRegle | BitBtn2 bnPropos SpeedButton1 bnAide | BitBtn1 bnFermer");
    // Each hint as the window's description gives it, its shortcut after it.
    EXPECT_EQ(w.bnGo->toolTip(), "Comptage à la main (Ctrl+D)");
    EXPECT_EQ(w.bnRegle->toolTip(), "Réglages (Ctrl+R)");
    EXPECT_EQ(w.BitBtn2->toolTip(), "Gère les factures (Ctrl+F)");
    EXPECT_EQ(w.bnPropos->toolTip(), "A propos... (Ctrl+I)");
    EXPECT_EQ(w.SpeedButton1->toolTip(), "Bloque la fenêtre en premier plan (Ctrl+B)");
    EXPECT_EQ(w.bnAide->toolTip(), "Aide en ligne (F1)");
    EXPECT_EQ(w.BitBtn1->toolTip(), "Réduire (Esc)");
    EXPECT_EQ(w.bnFermer->toolTip(), "Fermer (Ctrl+Q)");
    EXPECT_TRUE(w.bnGo->isCheckable());
    EXPECT_TRUE(w.SpeedButton1->isCheckable());

    QStringList items;
    for (QAction* a : w.PopupMenu1->actions()) items << a->text();
    EXPECT_EQ(items.join('/'), "&Restaurer/Ré&glages/&Statistiques/&Quitter");
    EXPECT_EQ(w.PopupMenu1->defaultAction(), w.Restaurer1);

    EXPECT_EQ(w.teFAI->toolTip(), "Nom du fournisseur d'accès");
    EXPECT_EQ(w.teIP->toolTip(), "Adresse IP en cours");
    EXPECT_EQ(w.teDuree->toolTip(), "Durée de la connection");
    EXPECT_EQ(w.teCout->toolTip(), "Coût de la connection");
    EXPECT_EQ(w.teForfait->toolTip(), "Durée restante du forfait");
    EXPECT_EQ(w.teForfaitTotal->toolTip(), "Durée du forfait");
    EXPECT_EQ(w.tePrixTotalTotal->toolTip(), "Coût total (F2\u00A0: corriger)");
    EXPECT_EQ(w.Edit1->toolTip(), "Débit en réception");
    EXPECT_EQ(w.Edit2->toolTip(), "Débit en émission");
    EXPECT_EQ(w.Label9->text(), "kO/s");
    EXPECT_EQ(w.Image1->size(), QSize(41, 41));
    for (QLineEdit* e : w.findChildren<QLineEdit*>()) EXPECT_TRUE(e->isReadOnly());

    // The components as the window sets them up.
    EXPECT_EQ(w.Timer1->interval(), 1000);
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_EQ(w.OnlineIP1->DispatchInterval(), 2000u);
    EXPECT_EQ(w.TrayIcon1->Hint(), "Le tallimer internet");
    EXPECT_EQ(tray.tip, "Le tallimer internet");
    EXPECT_EQ(tray.adds, 1);
    EXPECT_EQ(w.TrayIcon1->RestoreOn(), imNone);
    EXPECT_EQ(w.TrayIcon1->PopupMenuOn(), imRightClickUp);
    EXPECT_EQ(w.TrayIcon1->PopupMenu(), w.PopupMenu1);
    EXPECT_EQ(w.ImageList1->count(), 4);
    EXPECT_EQ(Picture(tray.icon), Picture(w.ImageList1->pixmap(0)));
}

TEST_F(MainWindow, FreshStartShowsZeroConnectionAndLoadedTotals) {
    WriteFile(dir.path() / "tallimer.inf", "3725000\r\n12.5\r\n0");
    TfPrinc& w = make();
    EXPECT_EQ(w.teCout->text(), "0,00 F");  // the description's text until the first refresh
    EXPECT_EQ(w.Edit1->text(), "0,0");
    EXPECT_FALSE(w.session().askOnExit);

    w.FormActivate();
    EXPECT_EQ(w.teDuree->text(), "00:00:00");
    EXPECT_EQ(w.teCout->text(), "0,00");
    EXPECT_EQ(w.teDureeTotalTotale->text(), "01:02:05");
    EXPECT_EQ(w.tePrixTotalTotal->text(), "12,50");
    EXPECT_EQ(Picture(w.Image1->pixmap()), Picture(w.ImageList1->pixmap(0)));
    // No account yet: the account fields keep the description's values.
    EXPECT_EQ(w.teCoutTotal->text(), "0,00 F");
    EXPECT_EQ(w.teDureeTotale->text(), "00:00:00");
    EXPECT_EQ(w.Edit1->text(), "0,0");
}

// The program reads the data folder while the display connects; the window takes that over
// whole (accounts, totals, the exit question) instead of reading the folder again.
TEST_F(MainWindow, DataReadAheadIsTakenOverWhole) {
    WriteFile(dir.path() / "tallimer.inf", "3725000\r\n12.5\r\n0");
    Account modem;
    modem.periodCost = 3.25f;
    writeAccount("Modem", modem);
    DataRead read;
    LoadAll(dir.str(), read.accounts, read.state);
    // Gone from the disk since: only what was read ahead can show.
    std::filesystem::remove(dir.path() / "tallimer.inf");
    std::filesystem::remove(dir.path() / "Comptes" / "Modem.fai");
    dataRead = &read;

    TfPrinc& w = make();
    EXPECT_FALSE(w.session().askOnExit);
    ASSERT_NE(w.accounts().find("Modem"), nullptr);
    EXPECT_EQ(w.accounts().find("Modem")->periodCost, 3.25f);
    w.FormActivate();
    EXPECT_EQ(w.teDureeTotalTotale->text(), "01:02:05");
    EXPECT_EQ(w.tePrixTotalTotal->text(), "12,50");
}

TEST_F(MainWindow, PackageAndReducedTicksSetThePictureInWindowAndTray) {
    Account account;
    account.packageEnabled = true;
    account.packageType = 0;  // all hours
    account.packageDuration = 3600000;
    account.packageRemaining = 3600000;
    account.packagePrice = 10;
    writeAccount("Modem", account);
    TfPrinc& w = make();

    counters.value = LinkCounters{0u, 0u};
    w.bnGo->trigger();
    ASSERT_TRUE(w.meter().metering());
    tick(1000);
    counters.value = LinkCounters{1024u, 2048u};
    tick(1000);
    EXPECT_EQ(w.meter().rateIcon, 3);
    // Hidden in the notification area, its normal state: only the tray icon follows.
    EXPECT_EQ(w.TrayIcon1->IconIndex(), 3);
    EXPECT_EQ(Picture(tray.icon), Picture(w.ImageList1->pixmap(3)));
    EXPECT_EQ(w.teCoutTotal->text(), "0,00 F");
    EXPECT_EQ(w.Edit1->text(), "0,0");
    EXPECT_EQ(Picture(w.Image1->pixmap()), Picture(w.ImageList1->pixmap(0)));

    // Shown, it catches up at once, the last rates included.
    w.show();
    EXPECT_EQ(Picture(w.Image1->pixmap()), Picture(w.ImageList1->pixmap(3)));
    EXPECT_EQ(w.teForfait->text(), "00:59:59");
    EXPECT_EQ(w.teForfaitTotal->text(), "01:00:00");
    EXPECT_EQ(w.teCoutTotal->text(), "10,00");
    EXPECT_EQ(w.teDuree->text(), "00:00:01");
    EXPECT_EQ(w.Edit1->text(), "8,0");
    EXPECT_EQ(w.Edit2->text(), "16,0");
    // Shown, each tick shows its figures.
    counters.value = LinkCounters{1536u, 2048u};
    tick(1000);
    EXPECT_EQ(w.teDuree->text(), "00:00:02");
    EXPECT_EQ(w.teForfait->text(), "00:59:58");
    EXPECT_EQ(w.Edit1->text(), "4,0");
    EXPECT_EQ(w.Edit2->text(), "0,0");
    // Hidden again, they stay as they were until it comes back.
    w.hide();
    tick(1000);
    EXPECT_EQ(w.teDuree->text(), "00:00:02");
    w.show();
    EXPECT_EQ(w.teDuree->text(), "00:00:03");

    w.bnGo->trigger();
    EXPECT_EQ(Picture(w.Image1->pixmap()), Picture(w.ImageList1->pixmap(0)));
    EXPECT_EQ(Picture(tray.icon), Picture(w.ImageList1->pixmap(0)));
    // The last connection stays on screen.
    EXPECT_EQ(w.teDuree->text(), "00:00:03");
}

// The icon's hint carries a connection's figures only while one billed by volume is metered:
// a time-only connection and the off-line icon keep the hint they always had.
TEST_F(MainWindow, TheIconsHintShowsTheVolumeOnlyWhileAVolumeConnectionIsMetered) {
    Account free;
    free.pricePerSecond = free.offPeakPrice = free.creditPrice = 0;
    writeAccount("Temps", free);
    writeAccount("Modem", free);
    VolumeBook book;
    VolumeTariff perMo;
    perMo.pricePerMo = 1;
    SetVolumeTariff(book, "Modem", free, perMo);
    ASSERT_TRUE(SaveVolumeBook(dir.str() + kVolumeFile, book));
    names.name = "Temps";
    TfPrinc& w = make();
    for (const std::string name : {"Temps", "Modem"}) {
        names.name = name;
        counters.value = LinkCounters{0u, 0u};
        w.bnGo->trigger();
        tick(1000);
        counters.value = LinkCounters{1000000u, 500000u};
        tick(1000);
        // The figures as the display shows them, which a tick's bytes reach at the next.
        tick(1000);
        EXPECT_EQ(tray.tip.toStdString(), name == "Temps" ? "Le tallimer internet"
                                                          : "Le tallimer internet\n"
                                                            "00:00:02 · 1,50 € · 1,5 Mo");
        w.bnGo->trigger();
        EXPECT_EQ(tray.tip, "Le tallimer internet");
    }
}

TEST_F(MainWindow, OverallDurationClickShowsZeroDoubleClickClearsIt) {
    WriteFile(dir.path() / "tallimer.inf", "3725000\r\n12.5\r\n1");
    TfPrinc& w = make();
    w.FormActivate();

    QTest::mouseClick(w.teDureeTotalTotale, Qt::LeftButton);
    EXPECT_EQ(w.teDureeTotalTotale->text(), "00:00:00");
    EXPECT_EQ(w.meter().overallDuration.totalMs, 3725000);
    w.FormActivate();
    EXPECT_EQ(w.teDureeTotalTotale->text(), "01:02:05");

    QTest::mouseDClick(w.teDureeTotalTotale, Qt::LeftButton);
    EXPECT_EQ(w.meter().overallDuration.totalMs, 0);
    EXPECT_EQ(w.teDureeTotalTotale->text(), "00:00:00");
    EXPECT_EQ(w.meter().overallCost, 12.5f);  // the cost is not touched
    w.close();
    EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf"), "0\r\n12.5\r\n1");
}

TEST_F(MainWindow, GoButtonMetersOffLineAndOneLineIsWrittenAtRelease) {
    FakeInvoice invoice;
    int invoiceSaves = 0;
    writeAccount("Modem", Account{});
    TfPrinc& w = make();
    DeskOver desk(w, &invoice, [&] { ++invoiceSaves; });
    w.SetInvoiceDesk(&desk);

    w.bnGo->trigger();
    EXPECT_TRUE(w.bnGo->isChecked());
    EXPECT_TRUE(w.meter().metering());
    EXPECT_TRUE(w.Timer1->isActive());
    EXPECT_TRUE(w.SaveTimer->isActive());
    EXPECT_EQ(w.SaveTimer->interval(), 60000);
    EXPECT_EQ(w.teFAI->text(), "Modem");
    EXPECT_TRUE(w.teIP->text().isEmpty());
    w.show();
    tick(1000);
    tick(1000);
    EXPECT_EQ(w.teDuree->text(), "00:00:01");

    w.bnGo->trigger();
    EXPECT_FALSE(w.meter().metering());
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_FALSE(w.SaveTimer->isActive());
    ASSERT_EQ(invoice.paragraphs.size(), 1u);
    EXPECT_NE(invoice.paragraphs[0].text.find("\t00:00:01\t"), std::string::npos);
    EXPECT_EQ(invoiceSaves, 1);
    // A release with nothing metered writes nothing.
    w.Disconnect();
    EXPECT_EQ(invoice.paragraphs.size(), 1u);
    EXPECT_EQ(invoiceSaves, 1);
}

TEST_F(MainWindow, DetectorStartsAndEndsTheConnection) {
    TfPrinc& w = make();
    addresses = {"127.0.0.1", "192.0.2.7"};
    w.OnlineIP1->Poll();
    EXPECT_TRUE(w.meter().metering());
    EXPECT_TRUE(w.bnGo->isChecked());
    EXPECT_EQ(w.teIP->text(), "192.0.2.7");

    tick(1000);
    tick(2000);
    addresses = {"127.0.0.1"};
    w.OnlineIP1->Poll();
    EXPECT_FALSE(w.meter().metering());
    EXPECT_FALSE(w.bnGo->isChecked());
    EXPECT_TRUE(w.teIP->text().isEmpty());
    EXPECT_EQ(ReadFile(dir.path() / "Comptes" / "Modem.fai").substr(0, 6), "2000\r\n");
}

// A switch from one connection to another, as the name source tells it, ends the running
// connection with its line and starts the next under the new name. An address that moves
// is no switch: it is only shown.
TEST_F(MainWindow, OnlyTheNameSourceSplitsAConnection) {
    Account tariff;
    tariff.creditDuration = 0;
    tariff.pricePerSecond = 0.01f;
    for (const char* name : {"Modem", "Club Internet"}) writeAccount(name, tariff);
    FakeInvoice invoice;
    TfPrinc& w = make();
    DeskOver desk(w, &invoice, {});
    w.SetInvoiceDesk(&desk);
    addresses = {"127.0.0.1", "192.0.2.7"};
    w.OnlineIP1->Poll();
    tick(1000);
    tick(2000);

    names.name = "Club Internet";
    for (auto moved : {std::vector<std::string>{"127.0.0.1", "198.51.100.9"},
                       {"127.0.0.1", "198.51.100.9", "203.0.113.5"}}) {
        addresses = moved;
        w.OnlineIP1->Poll();
        EXPECT_EQ(w.teIP->text().toStdString(), moved.back());
    }
    EXPECT_TRUE(invoice.paragraphs.empty());
    EXPECT_EQ(w.teFAI->text(), "Modem");
    tick(1000);

    // Told between two polls: the new connection's row starts with its own address. Those
    // who follow the figures hear it once: the last figures, then the new connection's.
    std::vector<std::pair<std::optional<SessionState>, SessionState>> told;
    w.session().setChangedListener([&](const std::optional<SessionState>& ended) {
        told.push_back({ended, w.session().state()});
    });
    addresses = {"127.0.0.1", "10.2.0.2"};
    ASSERT_TRUE(names.onSwitch);
    names.onSwitch();
    ASSERT_EQ(told.size(), 1u);
    ASSERT_TRUE(told[0].first);
    EXPECT_EQ(told[0].first->account + " " + std::to_string(told[0].first->connectionMs),
              "Modem 3000");
    EXPECT_TRUE(told[0].second.online);
    EXPECT_EQ(told[0].second.account, "Club Internet");
    w.session().setChangedListener({});
    EXPECT_TRUE(w.meter().metering());
    EXPECT_EQ(w.meter().currentAccount, w.accounts().find("Club Internet"));
    EXPECT_EQ(w.teFAI->text(), "Club Internet");
    tick(1000);
    tick(2000);
    w.bnGo->trigger();
    EXPECT_EQ(invoice.text(),
              "\t07 mars 01, 10:00:04\t00:00:03\t0,03\n\t07 mars 01, 10:00:07\t00:00:02\t0,02");
    EXPECT_EQ(w.meter().overallDuration.totalMs, 5000);
    EXPECT_EQ(ReadFile(dir.path() / "Comptes" / "Modem.fai").substr(0, 6), "3000\r\n");
    EXPECT_EQ(ReadFile(dir.path() / "Comptes" / "Club Internet.fai").substr(0, 6), "2000\r\n");
    const auto rows = w.journal()->query({});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].account + " " + rows[1].address, "Club Internet 10.2.0.2");
    // Not metering, a switch starts nothing.
    names.onSwitch();
    EXPECT_FALSE(w.meter().metering());
    EXPECT_EQ(invoice.paragraphs.size(), 2u);
}

// NetworkManager answering seconds after the link came up: the connection is metered under
// the account it names, from the link's start, and the program went on meanwhile.
TEST_F(MainWindow, ANameThatComesLateMetersTheTimeWaitedUnderItsAccount) {
    Account tariff;
    tariff.creditDuration = 0;
    tariff.pricePerSecond = 0.01f;
    writeAccount("Club Internet", tariff);
    FakeInvoice invoice;
    TfPrinc& w = make();
    DeskOver desk(w, &invoice, {});
    w.SetInvoiceDesk(&desk);
    names.late = true;
    addresses = {"127.0.0.1", "192.0.2.7"};
    w.OnlineIP1->Poll();
    ASSERT_EQ(names.asked.size(), 1u);
    EXPECT_FALSE(w.meter().metering());
    clock.advance(3000);
    names.asked[0]("Club Internet");
    EXPECT_EQ(w.teFAI->text(), "Club Internet");
    tick(1000);  // the first tick counts the time waited
    tick(1000);
    EXPECT_EQ(w.meter().connectionDuration.totalMs, 4000);
    w.bnGo->trigger();
    const std::string line = invoice.text();
    EXPECT_EQ(line.substr(line.size() - 14), "\t00:00:04\t0,04") << line;
    EXPECT_EQ(w.accounts().find(""), nullptr);
}

TEST_F(MainWindow, PeriodClosingErrorIsShownAfterMeteringStarts) {
    ReportCapture reports;
    FakeInvoice invoice;
    invoice.failSave = true;  // the archive cannot be written
    make();                   // "Modem" is new: its billing date lies in the past
    DeskOver desk(*window, &invoice, {});
    window->SetInvoiceDesk(&desk);

    addresses = {"127.0.0.1", "192.0.2.7"};
    window->OnlineIP1->Poll();
    EXPECT_TRUE(reports.messages.empty());  // said once the detector's handler has returned
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(reports.messages.size(), 1u);
    EXPECT_NE(reports.messages[0].find("Impossible de créer le fichier"), std::string::npos);
    EXPECT_TRUE(window->meter().metering());
    EXPECT_TRUE(window->bnGo->isChecked());
    EXPECT_EQ(window->teIP->text(), "192.0.2.7");
}

TEST_F(MainWindow, RefusedTrayIconEndsTheConstruction) {
    tray.refuse = true;
    try {
        make();
        FAIL() << "the window was built without its icon";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Cannot Create System Shell Notification Icon");
    }
}

TEST_F(MainWindow, HidesAfterFirstShowAndComesBackOnTopWhenAsked) {
    TfPrinc& w = make();
    w.show();
    QTRY_VERIFY(!w.isVisible());  // Timer2

    w.Restaurer1->trigger();
    EXPECT_TRUE(w.isVisible());
    w.SpeedButton1->trigger();
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w.isVisible());
    w.BitBtn1->trigger();
    EXPECT_FALSE(w.isVisible());
    w.WMShowInstance();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w.SpeedButton1->isChecked());

    w.SpeedButton1->trigger();
    EXPECT_FALSE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w.isVisible());
}

// The exit confirmation answered "Réduire".
struct ReduceOnExit : TfConfirm {
    int exec() override {
        QTimer::singleShot(0, this, [this] { BitBtn2->click(); });
        return TfConfirm::exec();
    }
};

// A desktop with no notification area: an ordinary window that stays, minimizes to the
// taskbar, says why once, and takes up the usual ways when an area appears.
TEST_F(MainWindow, WithoutANotificationAreaItIsAnOrdinaryWindowUntilOneAppears) {
    tray.area = false;
    TfPrinc& w = make();
    EXPECT_FALSE(w.TrayIcon1->HasNotificationArea());
    EXPECT_EQ(tray.adds, 0);
    EXPECT_EQ(
        w.StatusLine->text(),
        "Aucune zone de notification\u00A0: la fenêtre reste ouverte et «\u00A0Réduire\u00A0» "
        "la place dans la barre des tâches.");
    w.show();
    EXPECT_TRUE(w.StatusLine->isVisible());
    // The note is read whole, not clipped by the window's fixed size.
    EXPECT_GE(w.StatusLine->height(), w.StatusLine->heightForWidth(w.StatusLine->width()));
    EXPECT_LE(w.StatusLine->geometry().bottom(), w.height());
    w.Timer2Timer();
    EXPECT_TRUE(w.isVisible());

    w.BitBtn1->trigger();  // "Réduire"
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isMinimized());
    w.WMShowInstance();  // a second start
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
    {
        ReduceOnExit confirm;
        fConfirm = &confirm;
        QSignalSpy closed(&w, &TfPrinc::Closed);
        w.bnFermer->trigger();
        EXPECT_EQ(closed.count(), 0);
        EXPECT_TRUE(w.isVisible());
        EXPECT_TRUE(w.isMinimized());
    }
    w.WMShowInstance();

    // Metering goes on as anywhere else.
    w.bnGo->trigger();
    tick(1000);
    tick(1000);
    EXPECT_EQ(w.teDuree->text(), "00:00:01");
    w.bnGo->trigger();

    tray.area = true;
    w.TrayIcon1->WatchNotificationArea();
    EXPECT_EQ(tray.adds, 1);
    EXPECT_EQ(tray.tip, "Le tallimer internet");
    EXPECT_TRUE(w.StatusLine->isHidden());
    EXPECT_EQ(w.height(), 189 + w.ToolBar1->sizeHint().height());
    w.BitBtn1->trigger();
    EXPECT_FALSE(w.isVisible());
}

// Receives the URLs the window asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls << url; }
};

TEST_F(MainWindow, HelpOpensTheFileBesideTheProgram) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    TfPrinc& w = make();
    w.bnAide->trigger();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0].toLocalFile().toStdString(), dir.str() + "aide.html");
}

TEST_F(MainWindow, CloseSavesEverythingAndEndsTheProgram) {
    int invoiceSaves = 0;
    TfPrinc& w = make();
    DeskOver desk(w, nullptr, [&] { ++invoiceSaves; });
    w.SetInvoiceDesk(&desk);
    QSignalSpy closed(&w, &TfPrinc::Closed);
    w.bnGo->trigger();
    tick(1000);
    tick(5000);
    w.Quitter1->trigger();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(invoiceSaves, 1);
    EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf"), "5000\r\n1.33333\r\n1");
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "Comptes" / "Modem.fai"));
}

TEST_F(MainWindow, TheWidestFiguresShowWhole) {
    TfPrinc& w = make();
    const QSize size = w.size();
    w.show();
    Meter& m = w.meter();
    m.currentAccount = &w.accounts().findOrCreate("Modem");
    QList<QLineEdit*> figures{w.teDuree, w.teDureeTotale, w.teForfait,          w.teForfaitTotal,
                              w.teCout,  w.teCoutTotal,   w.teDureeTotalTotale, w.tePrixTotalTotal};
    auto check = [&](std::int32_t duration, float amount) {
        m.connectionDuration = duration;
        m.overallDuration = duration;
        m.currentAccount->periodDuration = m.currentAccount->packageRemaining =
            m.currentAccount->packageDuration = duration;
        m.connectionCost = m.overallCost = m.currentAccount->periodCost = amount;
        w.RefreshDisplay();
        for (QLineEdit* field : figures) {
            EXPECT_LE(field->fontMetrics().horizontalAdvance(field->text()), TextRoom(field))
                << field->objectName().toStdString() << " " << field->text().toStdString();
        }
    };
    auto inWindowType = [&] {
        for (QLineEdit* field : figures)
            if (field->font().pointSizeF() != w.font().pointSizeF()) return false;
        return true;
    };
    check(3725000, 12.34f);
    EXPECT_TRUE(inWindowType());   // what fits keeps the window's type
    check(INT32_MAX, 9999999.0f);  // 596:31:23 and 9999999,00
    EXPECT_EQ(w.teDuree->text(), "596:31:23");
    EXPECT_EQ(w.tePrixTotalTotal->text(), "9999999,00");
    EXPECT_FALSE(inWindowType());
    check(-1000, -9999999.0f);     // 00:00:0-1 and -9999999,00
    check(359999000, 8888888.8f);  // 99:59:59 and 8888889,00
    EXPECT_EQ(w.teDuree->text(), "99:59:59");
    EXPECT_EQ(w.teCout->text(), "8888889,00");
    check(0, 0);
    EXPECT_TRUE(inWindowType());
    w.teDureeTotalTotale->SetFHeure(INT32_MAX);  // any way the text comes
    check(INT32_MAX, 0);
    // Totals past 2^31 ms, whole.
    m.overallDuration = m.currentAccount->periodDuration = 2147489000;
    w.RefreshDisplay();
    EXPECT_EQ(w.teDureeTotale->text(), "596:31:29");
    EXPECT_EQ(w.teDureeTotalTotale->text(), "596:31:29");
    m.overallDuration = 3600000LL * 9999999;
    w.RefreshDisplay();
    EXPECT_EQ(w.teDureeTotalTotale->text(), "9999999:00:00");
    EXPECT_LE(w.teDureeTotalTotale->fontMetrics().horizontalAdvance(w.teDureeTotalTotale->text()),
              TextRoom(w.teDureeTotalTotale));
    EXPECT_EQ(w.size(), size);
}

// Error boxes of the event loop's queue; the ones a tick reports are never modal.
QList<QMessageBox*> Notices() {
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) boxes << box;
    return boxes;
}

TEST_F(MainWindow, AnInvoiceThatCannotBeSavedDuringATickIsReportedAfterItWithoutBlocking) {
    WriteFile(dir.path() / "base.rtf", "{\\rtf1 Facture\\par}");
    Account modem;
    modem.packageEnabled = true;
    modem.packageType = 0;
    modem.packagePrice = 15;
    modem.packageRemaining = 3600000;
    writeAccount("Modem", modem);
    TfPrinc& w = make();
    TfFacture manager(dir.str());
    w.SetInvoiceDesk(&manager);
    std::filesystem::create_directory(dir.path() / "temp.rtf");  // nothing can replace a folder
    const QString message =
        QString::fromStdString("Impossible de créer le fichier " + dir.str() + "temp.rtf");

    w.bnGo->trigger();
    auto timerTick = [&](int ms) {
        clock.advance(ms);
        w.Timer1Timer();
    };
    timerTick(1000);                   // the package fee: its line cannot be saved
    EXPECT_TRUE(Notices().isEmpty());  // nothing shown inside the tick
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(Notices().size(), 1);
    QMessageBox* box = Notices()[0];
    EXPECT_EQ(box->text(), message);
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(box->windowModality(), Qt::NonModal);

    // Metering goes on while it is open; a second failure adds no box.
    w.meter().currentAccount->packageCharged = false;  // a new period's fee
    timerTick(1000);
    timerTick(20000);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(Notices(), QList<QMessageBox*>{box});
    EXPECT_EQ(w.meter().connectionDuration.totalMs, 21000);
    EXPECT_EQ(w.meter().connectionCost, 30.0f);

    // Once it is closed, the next failure is told again.
    box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    w.meter().currentAccount->packageCharged = false;
    timerTick(1000);
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(Notices().size(), 1);
    Notices()[0]->close();

    // The lines stayed in the document: the next change writes them all.
    std::filesystem::remove(dir.path() / "temp.rtf");
    w.bnGo->trigger();
    QTextDocument saved;
    LoadRtfFile(saved, QString::fromStdString(dir.str() + "temp.rtf"));
    const QStringList lines = saved.toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 5) << saved.toPlainText().toStdString();
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(lines[i].endsWith("\t00:00:00\t15,00")) << i;
    EXPECT_TRUE(lines[4].endsWith("\t00:00:22\t45,00")) << lines[4].toStdString();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(Notices().isEmpty());
}

// A running invoice that cannot be written at a connection's end: nothing is said until the
// detector's handler has returned, so no box holds the meter; the totals are saved at each
// end, the next connection is metered, and one report stands for both. A failed save at the
// end is said on the standard error; a stop request shows no box.
TEST_F(MainWindow, AConnectionsEndThatCannotWriteItsLineWaitsForNobody) {
    ReportCapture reports;
    WriteFile(dir.path() / "base.rtf", "{\\rtf1 Facture\\par}");
    writeAccount("Modem", Account());
    TfPrinc& w = make();
    TfFacture manager(dir.str());
    w.SetInvoiceDesk(&manager);
    std::filesystem::create_directory(dir.path() / "temp.rtf");
    const std::string message = "Impossible de créer le fichier " + dir.str() + "temp.rtf";
    const auto account = dir.path() / "Comptes" / "Modem.fai";
    auto connection = [&](int ms) {
        addresses = {"127.0.0.1", "192.0.2.7"};
        w.OnlineIP1->Poll();
        tick(1000);
        tick(ms);
        addresses = {"127.0.0.1"};
        w.OnlineIP1->Poll();
    };
    connection(4000);
    EXPECT_TRUE(reports.messages.empty());
    EXPECT_EQ(ReadFile(account).substr(0, 6), "4000\r\n");
    connection(12000);
    EXPECT_EQ(ReadFile(account).substr(0, 7), "16000\r\n");
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(reports.messages, std::vector<std::string>{message});

    testing::internal::CaptureStderr();
    w.EndWithoutAsking();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), message + "\n");
    EXPECT_EQ(reports.messages.size(), 1u);
    EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf").substr(0, 7), "16000\r\n");

    QCoreApplication::sendPostedEvents();
}

// An account file that is a link out of the data folder is not written through: that is said
// once, and the totals wait in memory for a save that can land. At the end, a user who asked
// to quit is told too.
TEST_F(MainWindow, AnAccountFileLinkedOutOfTheDataIsReportedOnceAndItsTotalsKept) {
    ReportCapture reports;
    TempDir outside;
    Account modem;
    modem.nextInvoice = EncodeDate(2030, 1, 1);
    WriteFile(outside.path() / "modem", WriteAccount(modem));
    const auto account = dir.path() / "Comptes" / "Modem.fai";
    std::filesystem::create_symlink(outside.path() / "modem", account);
    TfPrinc& w = make();
    for (int i = 0; i < 2; ++i) {
        w.bnGo->trigger();
        tick(1000);
        tick(3000);
        w.bnGo->trigger();
        QCoreApplication::sendPostedEvents();
    }
    EXPECT_EQ(reports.messages,
              std::vector<std::string>{"Impossible de créer le fichier " + account.string()});
    EXPECT_EQ(ReadFile(outside.path() / "modem"), WriteAccount(modem));
    std::filesystem::remove(account);
    EXPECT_TRUE(w.SaveFiles());
    EXPECT_EQ(ReadFile(account).substr(0, 6), "6000\r\n");

    // Still failing when the user quits: said on the standard error and in a box.
    std::filesystem::remove(account);
    std::filesystem::create_symlink(outside.path() / "modem", account);
    w.bnGo->trigger();
    testing::internal::CaptureStderr();
    w.Quitter1->trigger();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), reports.messages[0] + "\n");
    EXPECT_EQ(reports.messages.size(), 2u);
    EXPECT_EQ(reports.messages.back(), reports.messages[0]);
    QCoreApplication::sendPostedEvents();
}

TEST_F(MainWindow, EndWithoutAskingClosesAHiddenWindowOnce) {
    int invoiceSaves = 0;
    TfPrinc& w = make();
    DeskOver desk(w, nullptr, [&] { ++invoiceSaves; });
    w.SetInvoiceDesk(&desk);
    QSignalSpy closed(&w, &TfPrinc::Closed);
    w.EndWithoutAsking();
    w.EndWithoutAsking();  // the signal, then the end of the loop
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(invoiceSaves, 1);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "tallimer.inf"));
}

}  // namespace

#include "FNPrincTest.moc"
