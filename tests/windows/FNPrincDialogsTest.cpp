// The main window's commands that open the dialogs, with the dialogs made beforehand or, as
// the program wires them, at their first use.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <utility>

#include "accounts/AccountFiles.h"
#include "shell/HeadlessTray.h"
#include "support/Date.h"
#include "tests/common/Fakes.h"
#include "windows/FNConfirme.h"
#include "windows/FNModifPrix.h"
#include "windows/FNPrinc.h"
#include "windows/FNPropos.h"
#include "windows/FNRegle.h"

using namespace tallimer;
using tallimer::test::FakeClock;
using tallimer::test::FakeConnectionName;
using tallimer::test::FakeCounters;
using tallimer::test::ReadFile;
using tallimer::test::TempDir;
using tallimer::test::WriteFile;

namespace {

// A notification area that accepts everything, as a run without a display has.
using SilentTray = tallimer::HeadlessTray;

// Acts on the modal window that comes up next; dropped with its owner if none came up.
void WhenShown(std::function<void()> user, QObject* owner = qApp) {
    QTimer::singleShot(0, owner, std::move(user));
}

class MainWindowDialogs : public ::testing::Test {
  protected:
    MainWindowDialogs() {
        std::filesystem::create_directory(dir.path() / "Comptes");
        std::filesystem::create_directory(dir.path() / "Factures");
        clock.utc = 36000000;
        names.name = "Modem";
        Account modem;
        modem.nextInvoice = EncodeDate(2030, 1, 1);
        WriteFile(dir.path() / "Comptes" / "Modem.fai", WriteAccount(modem));
        WriteFile(dir.path() / "Comptes" / "Autre.fai", WriteAccount(modem));
    }

    // The main window alone (no invoice manager here).
    TfPrinc& makeWindow() {
        const PrincDependencies d{dir.str(), &clock,
                                  &names,    &counters,
                                  &tray,     [] { return std::vector<std::string>{"127.0.0.1"}; }};
        window = std::make_unique<TfPrinc>(d);
        window->OnlineIP1->SetEnabled(false);
        return *window;
    }

    // The main window and its dialogs, all made beforehand.
    TfPrinc& make() {
        makeWindow();
        fRegle = new TfRegle(window.get());
        AboutBox = new TAboutBox(window.get());
        fModifPrix = new TfModifPrix(window.get());
        fModifPrix->showMessage = [](const QString&) {};
        fConfirm = new TfConfirm(window.get());
        return *window;
    }

    TempDir dir;
    FakeClock clock;
    FakeConnectionName names;
    FakeCounters counters;
    SilentTray tray;
    std::unique_ptr<TfPrinc> window;
};

TEST_F(MainWindowDialogs, DialogsGoWithTheMainWindow) {
    make();
    EXPECT_NE(fRegle, nullptr);
    EXPECT_NE(fConfirm, nullptr);
    window.reset();
    EXPECT_EQ(fRegle, nullptr);
    EXPECT_EQ(AboutBox, nullptr);
    EXPECT_EQ(fModifPrix, nullptr);
    EXPECT_EQ(fConfirm, nullptr);
}

// As the program wires them: no dialog before its first use, then one made and kept, its
// answers taken as from a dialog made beforehand.
TEST_F(MainWindowDialogs, DialogsAreMadeAtTheirFirstUseThenKept) {
    TfPrinc& w = makeWindow();
    w.MakeDialogsOnDemand();
    w.show();
    EXPECT_EQ(fRegle, nullptr);
    EXPECT_EQ(AboutBox, nullptr);
    EXPECT_EQ(fModifPrix, nullptr);
    EXPECT_EQ(fConfirm, nullptr);

    QSignalSpy closed(&w, &TfPrinc::Closed);
    int asked = 0;
    const auto reduce = [&] {
        WhenShown(
            [&] {
                if (!fConfirm || !fConfirm->isVisible()) return;
                ++asked;
                fConfirm->BitBtn2->click();  // "Réduire"
            },
            &w);
    };
    reduce();
    w.Quitter1->trigger();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(closed.count(), 0);
    EXPECT_FALSE(w.isVisible());
    ASSERT_NE(fConfirm, nullptr);
    EXPECT_EQ(fConfirm->parent(), &w);
    const QPointer<TfConfirm> confirm = fConfirm;
    w.show();
    reduce();
    w.bnFermer->trigger();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(closed.count(), 0);
    EXPECT_EQ(fConfirm, confirm.data());
    EXPECT_EQ(w.findChildren<TfConfirm*>().size(), 1);

    // No account yet: nothing to correct, and no correction dialog made for it.
    QTest::mouseDClick(w.teCoutTotal, Qt::LeftButton);
    EXPECT_EQ(fModifPrix, nullptr);

    w.bnGo->trigger();  // a connection under "Modem"
    const std::pair<const char*, float> prices[] = {{"0,0047", 0.0047f}, {"0,0051", 0.0051f}};
    for (const auto& price : prices) {
        WhenShown(
            [&] {
                if (!fRegle || !fRegle->isVisible()) return;
                EXPECT_EQ(fRegle->cbFAI->currentText(), "Modem");
                fRegle->tePrixSec->setText(price.first);
                fRegle->BitBtn1->click();
            },
            &w);
        w.bnRegle->trigger();
        ASSERT_NE(fRegle, nullptr);
        EXPECT_EQ(w.accounts().find("Modem")->pricePerSecond, price.second);
    }
    EXPECT_EQ(w.findChildren<TfRegle*>().size(), 1);

    WhenShown(
        [&] {
            if (fModifPrix && fModifPrix->isVisible()) {
                fModifPrix->Edit1->setText("12,5");
                fModifPrix->BitBtn1->click();
            }
        },
        &w);
    QTest::mouseDClick(w.teCoutTotal, Qt::LeftButton);
    ASSERT_NE(fModifPrix, nullptr);
    EXPECT_EQ(w.accounts().find("Modem")->periodCost, 12.5f);

    bool shown = false;
    WhenShown(
        [&] {
            if (!AboutBox) return;
            shown = AboutBox->isVisible();
            AboutBox->OKButton->click();
        },
        &w);
    w.bnPropos->trigger();
    EXPECT_TRUE(shown);
    EXPECT_EQ(w.findChildren<QDialog*>().size(), 4);

    window.reset();
    EXPECT_EQ(fRegle, nullptr);
    EXPECT_EQ(AboutBox, nullptr);
    EXPECT_EQ(fModifPrix, nullptr);
    EXPECT_EQ(fConfirm, nullptr);
}

TEST_F(MainWindowDialogs, SettingsOpenOnTheCurrentProviderFromToolbarAndMenu) {
    TfPrinc& w = make();
    w.bnGo->trigger();  // a connection under "Modem"
    QString selected;
    WhenShown([&] {
        selected = fRegle->cbFAI->currentText();
        fRegle->tePrixSec->setText("0,0047");
        fRegle->BitBtn1->click();
    });
    w.bnRegle->trigger();
    EXPECT_EQ(selected, "Modem");
    EXPECT_EQ(w.accounts().find("Modem")->pricePerSecond, 0.0047f);
    EXPECT_FALSE(fRegle->isVisible());

    WhenShown([&] {
        selected = fRegle->cbFAI->currentText();
        fRegle->tePrixSec->setText("9");
        fRegle->BitBtn2->click();
    });
    w.rglages1->trigger();
    EXPECT_EQ(selected, "Modem");
    EXPECT_EQ(w.accounts().find("Modem")->pricePerSecond, 0.0047f);
}

TEST_F(MainWindowDialogs, AboutBoxFromTheToolbar) {
    TfPrinc& w = make();
    bool shown = false;
    WhenShown([&] {
        shown = AboutBox->isVisible();
        AboutBox->OKButton->click();
    });
    w.bnPropos->trigger();
    EXPECT_TRUE(shown);
    EXPECT_FALSE(AboutBox->isVisible());
}

TEST_F(MainWindowDialogs, CostsAreCorrectedByDoubleClickOnceAConnectionWasMade) {
    TfPrinc& w = make();
    w.FormActivate();
    int opened = 0;
    QObject::connect(fModifPrix, &QDialog::finished, [&] { ++opened; });
    QTest::mouseDClick(w.teCoutTotal, Qt::LeftButton);
    QTest::mouseDClick(w.tePrixTotalTotal, Qt::LeftButton);
    EXPECT_EQ(opened, 0);

    w.bnGo->trigger();
    w.bnGo->trigger();  // connected and ended: the account stays current
    WhenShown([&] {
        fModifPrix->Edit1->setText("12,5");
        fModifPrix->BitBtn1->click();
    });
    QTest::mouseDClick(w.teCoutTotal, Qt::LeftButton);
    EXPECT_EQ(w.accounts().find("Modem")->periodCost, 12.5f);
    EXPECT_EQ(w.teCoutTotal->text(), "12,5");
    EXPECT_EQ(w.meter().overallCost, 0.0f);

    WhenShown([&] {
        fModifPrix->Edit1->setText("99");
        fModifPrix->BitBtn1->click();
    });
    QTest::mouseDClick(w.tePrixTotalTotal, Qt::LeftButton);
    EXPECT_EQ(w.meter().overallCost, 99.0f);
    EXPECT_EQ(w.tePrixTotalTotal->text(), "99");
    EXPECT_EQ(w.accounts().find("Modem")->periodCost, 12.5f);
    EXPECT_EQ(opened, 2);
    w.RefreshDisplay();
    EXPECT_EQ(w.teCoutTotal->text(), "12,50");
    EXPECT_EQ(w.tePrixTotalTotal->text(), "99,00");
}

TEST_F(MainWindowDialogs, CloseAsksAndNeverAskAgainLastsAcrossARestart) {
    {
        TfPrinc& w = make();
        w.show();
        QSignalSpy closed(&w, &TfPrinc::Closed);
        WhenShown([] { fConfirm->BitBtn2->click(); });  // "Réduire"
        w.Quitter1->trigger();
        EXPECT_EQ(closed.count(), 0);
        EXPECT_FALSE(w.isVisible());
        EXPECT_TRUE(w.session().askOnExit);

        WhenShown([] {
            fConfirm->CheckBox1->click();
            fConfirm->BitBtn2->click();
        });
        w.bnFermer->trigger();
        EXPECT_EQ(closed.count(), 0);
        EXPECT_FALSE(w.session().askOnExit);

        // No question from now on: the close proceeds and saves the choice.
        bool asked = false;
        QObject::connect(fConfirm, &QDialog::finished, [&] { asked = true; });
        w.close();
        EXPECT_FALSE(asked);
        EXPECT_EQ(closed.count(), 1);
    }
    EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf").back(), '0');
    TfPrinc& again = make();
    EXPECT_FALSE(again.session().askOnExit);
    QSignalSpy closed(&again, &TfPrinc::Closed);
    again.Quitter1->trigger();
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(MainWindowDialogs, StopEndsTheProgram) {
    TfPrinc& w = make();
    w.show();
    QSignalSpy closed(&w, &TfPrinc::Closed);
    WhenShown([] { fConfirm->BitBtn1->click(); });  // "Arrêter"
    w.bnFermer->trigger();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(w.session().askOnExit);
    EXPECT_EQ(ReadFile(dir.path() / "tallimer.inf").back(), '1');
}

}  // namespace
