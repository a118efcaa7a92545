// The windows as people use them without a mouse or without sight: every command by keyboard,
// every control named as a sighted user reads it, heard through Qt's accessibility interface.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <memory>

#include "controls/DateEdit.h"
#include "controls/LinkLabel.h"
#include "tests/common/Fakes.h"
#include "tests/common/qt/DialogChecks.h"
#include "tests/common/qt/FakeTrayShell.h"
#include "windows/FNConfirme.h"
#include "windows/FNModifPrix.h"
#include "windows/FNPrinc.h"
#include "windows/FNPropos.h"
#include "windows/FNRegle.h"

using namespace tallimer;
using namespace tallimer::test;

namespace {

// Takes the addresses the desktop is asked to open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls << url; }
};

class Keyboard : public ::testing::Test, protected MeteringGround {
  protected:
    TfPrinc& make() {
        tray.area = false;  // an ordinary window, which stays in front of the user
        PrincDependencies d{dir.str(), &clock,
                            &names,    &counters,
                            &tray,     [] { return std::vector<std::string>{"127.0.0.1"}; }};
        window = std::make_unique<TfPrinc>(d);
        window->OnlineIP1->SetEnabled(false);
        return *window;
    }
    FakeTrayShell tray;
    std::unique_ptr<TfPrinc> window;
};

}  // namespace

// Tab reaches every button and every figure, Space presses a button, each command answers
// its shortcut, F2 opens a correction; what the icon's menu shows matches.
TEST_F(Keyboard, EveryCommandOfTheMainWindowIsReachedFromTheKeyboard) {
    TfPrinc& w = make();
    Activate(w);
    QList<QWidget*> expected;
    for (QAction* a : w.ToolBar1->actions())
        if (!a->isSeparator()) expected << w.ToolBar1->widgetForAction(a);
    expected << w.teFAI << w.teIP << w.teDuree << w.teDureeTotale << w.teCout << w.teCoutTotal
             << w.teForfait << w.teForfaitTotal << w.teDureeTotalTotale << w.tePrixTotalTotal
             << w.Edit1 << w.Edit2;
    EXPECT_EQ(TabStops(w), expected);
    w.ToolBar1->widgetForAction(w.bnRegle)->setFocus();
    SavePicture(w.grab(), "principale-focus-bouton");

    QWidget* go = w.ToolBar1->widgetForAction(w.bnGo);
    go->setFocus();
    QTest::keyClick(go, Qt::Key_Space);
    EXPECT_TRUE(w.meter().metering());
    QTest::keySequence(&w, w.bnGo->shortcut());
    EXPECT_FALSE(w.meter().metering());

    UrlCatcher help;
    QDesktopServices::setUrlHandler("file", &help, "open");
    for (QAction* a : {w.bnRegle, w.BitBtn2, w.bnPropos, w.bnAide, w.SpeedButton1, w.BitBtn1}) {
        Activate(w);
        QSignalSpy pressed(a, &QAction::triggered);
        QTest::keySequence(&w, a->shortcut());
        EXPECT_EQ(pressed.count(), 1) << a->objectName().toStdString();
    }
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(help.urls.size(), 1);
    EXPECT_TRUE(w.isMinimized());  // Échap reduces
    w.WMShowInstance();
    EXPECT_EQ(w.bnAide->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(w.rglages1->shortcut(), w.bnRegle->shortcut());
    EXPECT_EQ(w.Quitter1->shortcut(), w.bnFermer->shortcut());
    for (QAction* item : w.PopupMenu1->actions())
        EXPECT_TRUE(item->isShortcutVisibleInContextMenu());

    // The price correction, without a double-click.
    fModifPrix = new TfModifPrix(&w);
    w.Connect();
    Activate(w);
    w.teCoutTotal->setFocus();
    SavePicture(w.grab(), "principale-focus-chiffre");
    QTimer::singleShot(0, fModifPrix, [] { fModifPrix->reject(); });
    QSignalSpy asked(fModifPrix, &QDialog::finished);
    QTest::keyClick(w.teCoutTotal, Qt::Key_F2);
    EXPECT_EQ(asked.count(), 1);
    delete fModifPrix;

    QSignalSpy closed(&w, &TfPrinc::Closed);
    w.session().askOnExit = false;
    Activate(w);
    QTest::keySequence(&w, QKeySequence("Ctrl+Q"));
    EXPECT_EQ(closed.count(), 1);
}

// Without a notification area the program's menu opens wherever one right-clicks, a figure
// too; opened from the keyboard, its first Return acts.
TEST_F(Keyboard, TheProgramsMenuOpensOnAFigureAndActsOnTheFirstReturn) {
    TfPrinc& w = make();
    Activate(w);
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(3, 3),
                            w.teCoutTotal->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(w.teCoutTotal, &click);
    EXPECT_EQ(QApplication::activePopupWidget(), w.PopupMenu1);
    w.PopupMenu1->close();

    w.showMinimized();
    QSignalSpy restored(w.Restaurer1, &QAction::triggered);
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(3, 3),
                          w.teFAI->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(w.teFAI, &key);
    ASSERT_EQ(QApplication::activePopupWidget(), w.PopupMenu1);
    QTest::keyClick(w.PopupMenu1, Qt::Key_Return);
    EXPECT_EQ(restored.count(), 1);
    EXPECT_FALSE(w.isMinimized());
}

// A screen reader says of each figure the label beside it, of the start/stop button what it
// does and of the picture the rate it shows.
TEST_F(Keyboard, EachFigureIsSaidByTheLabelBesideIt) {
    TfPrinc& w = make();
    w.show();
    const std::pair<QWidget*, const char*> said[] = {
        {w.ToolBar1->widgetForAction(w.bnGo), "Comptage à la main"},
        {w.ToolBar1->widgetForAction(w.bnAide), "Aide en ligne"},
        {w.teFAI, "FAI"},
        {w.teIP, "IP"},
        {w.teDuree, "Durée"},
        {w.teDureeTotale, "Durée totale"},
        {w.teCout, "Coût"},
        {w.teCoutTotal, "Coût total"},
        {w.teForfait, "Forfait"},
        {w.teForfaitTotal, "Durée du forfait"},
        {w.teDureeTotalTotale, "Durée"},
        {w.tePrixTotalTotal, "Coût"},
        {w.Edit1, "Débit en réception"},
        {w.Edit2, "Débit en émission"},
        {w.Image1, "Hors ligne"}};
    for (auto [control, name] : said) EXPECT_EQ(Name(control), QString::fromUtf8(name)) << name;
    EXPECT_EQ(QAccessible::queryAccessibleInterface(w.teCout)->text(QAccessible::Value),
              w.teCout->text());
    w.bnGo->trigger();
    clock.advance(1000);
    w.Timer1Timer();
    EXPECT_EQ(Name(w.Image1), "Tarif normal");
    w.bnGo->trigger();
}

// The dialogs: every control named, every underlined letter its dialog's only one and a way to
// its field; the about box's addresses reached by Tab and followed by Return.
TEST_F(Keyboard, DialogsAreNamedAndReachedByTheirLetters) {
    TfRegle settings;
    ExpectNamedAndReachedByAlt(settings);
    EXPECT_EQ(Name(settings.DateFacture->editor()), "Prochaine facture");
    EXPECT_EQ(Name(settings.tePeriode), "Périodicité (mois)");
    EXPECT_EQ(Name(settings.cbFAI), "Fournisseur d'accès");
    settings.reject();
    TfModifPrix price;
    ExpectNamedAndReachedByAlt(price);
    price.reject();
    TfConfirm confirm;
    ExpectNamedAndReachedByAlt(confirm);
    confirm.reject();

    TAboutBox about;
    QList<QUrl> opened;
    about.openUrl = [&opened](const QUrl& url) { opened << url; };
    Activate(about);
    EXPECT_EQ(QApplication::focusWidget(), about.OKButton);
    QTest::keyClick(about.OKButton, Qt::Key_Tab);  // the address shown, a link
    ASSERT_EQ(QApplication::focusWidget(), about.Label1);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(about.Label1)->role(), QAccessible::Link);
    EXPECT_EQ(Name(about.Label1), about.Label1->text());
    QTest::keyClick(about.Label1, Qt::Key_Return);
    EXPECT_EQ(opened, QList<QUrl>{QUrl("mailto:" + about.Label1->text())});
    EXPECT_TRUE(about.isVisible());
}

#include "KeyboardAndReaderTest.moc"
