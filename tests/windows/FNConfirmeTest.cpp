#include "windows/FNConfirme.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "accounts/AccountFiles.h"
#include "tests/common/Fakes.h"
#include "tests/common/qt/DialogChecks.h"
#include "windows/DialogFlows.h"

using tallimer::ConfirmClose;
using tallimer::TfConfirm;

namespace {

// The confirmation with a scripted user: `answer` runs once the dialog is up.
struct Confirm : TfConfirm {
    int shown = 0;
    bool checkedWhenShown = false;
    std::function<void(Confirm&)> answer;
    int exec() override {
        ++shown;
        checkedWhenShown = CheckBox1->isChecked();
        QTimer::singleShot(0, this, [this] { answer(*this); });
        return TfConfirm::exec();
    }
};

void Stop(Confirm& d) {
    d.BitBtn1->click();
}
void Reduce(Confirm& d) {
    d.BitBtn2->click();
}
void TickAndStop(Confirm& d) {
    d.CheckBox1->click();
    d.BitBtn1->click();
}
void TickAndReduce(Confirm& d) {
    d.CheckBox1->click();
    d.BitBtn2->click();
}

TEST(ExitConfirmation, HasItsCaptionsAndOnlyACloseBox) {
    TfConfirm d;
    EXPECT_EQ(d.windowTitle(), "Confirmation de sortie");
    EXPECT_EQ(d.Label1->text(), "Vous allez fermer le Tallimer Internet.");
    EXPECT_TRUE(d.Label1->font().bold());
    EXPECT_EQ(d.Label2->text(), "Voulez-vous arrêter le programme ou seulement le réduire ?");
    // The captions as shown: their underlined letter does not change them.
    EXPECT_EQ(d.BitBtn1->text().remove('&'), "Arrêter");
    EXPECT_EQ(d.BitBtn2->text().remove('&'), "Réduire");
    EXPECT_EQ(d.CheckBox1->text().remove('&'), "Ne plus poser la question à l'avenir");
    EXPECT_FALSE(d.Image1->pixmap().isNull());
    Qt::WindowFlags f = d.windowFlags();
    EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(f & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(f & Qt::WindowContextHelpButtonHint);
}

TEST(ExitConfirmation, StopLetsTheCloseProceedAndAsksAgainNextTime) {
    QWidget main;
    main.show();
    Confirm d;
    d.answer = Stop;
    bool ask = true;
    EXPECT_TRUE(ConfirmClose(ask, d, main));
    EXPECT_TRUE(ask);
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(d.shown, 1);
}

TEST(ExitConfirmation, ReduceAndTheCloseBoxAndEscapeRefuseAndHide) {
    std::function<void(Confirm&)> answers[] = {
        Reduce,
        [](Confirm& d) { d.close(); },
        [](Confirm& d) { QTest::keyClick(&d, Qt::Key_Escape); },
    };
    for (auto& answer : answers) {
        QWidget main;
        main.show();
        Confirm d;
        d.answer = answer;
        bool ask = true;
        EXPECT_FALSE(ConfirmClose(ask, d, main));
        EXPECT_TRUE(ask);
        EXPECT_FALSE(main.isVisible());
        // Hidden already: stays hidden, the question comes again.
        EXPECT_FALSE(ConfirmClose(ask, d, main));
        EXPECT_FALSE(main.isVisible());
        EXPECT_EQ(d.shown, 2);
    }
}

// Return where the user's keys go: the dialog's focus widget.
void PressReturn(Confirm& d) {
    QTest::keyClick(d.focusWidget() ? d.focusWidget() : &d, Qt::Key_Return);
}

TEST(ExitConfirmation, ReturnMeansStopAtEveryShowingWhateverWasChosenBefore) {
    QWidget main;
    main.show();
    Confirm d;
    bool ask = true;
    // First question: the user tabs to "Réduire" and confirms it with Return.
    d.answer = [](Confirm& c) {
        EXPECT_EQ(c.focusWidget(), c.BitBtn1);
        c.BitBtn2->setFocus(Qt::TabFocusReason);
        PressReturn(c);
    };
    EXPECT_FALSE(ConfirmClose(ask, d, main));
    // Second question: Return alone, the default being "Arrêter" again.
    d.answer = [](Confirm& c) {
        EXPECT_EQ(c.focusWidget(), c.BitBtn1);
        EXPECT_TRUE(c.BitBtn1->isDefault());
        EXPECT_FALSE(c.BitBtn2->isDefault());
        tallimer::test::SaveScreenshot(c, "exit-confirmation-default");
        PressReturn(c);
    };
    EXPECT_TRUE(ConfirmClose(ask, d, main));
    EXPECT_EQ(d.shown, 2);
}

TEST(ExitConfirmation, NeverAskAgainHoldsWhateverTheAnswer) {
    for (auto answer : {TickAndReduce, TickAndStop}) {
        QWidget main;
        main.show();
        Confirm d;
        d.answer = answer;
        bool ask = true;
        bool proceeds = ConfirmClose(ask, d, main);
        EXPECT_EQ(proceeds, answer == TickAndStop);
        EXPECT_EQ(main.isVisible(), proceeds);
        EXPECT_FALSE(ask);
        // From now on every close proceeds at once, the window left as it is.
        main.hide();
        EXPECT_TRUE(ConfirmClose(ask, d, main));
        EXPECT_TRUE(ConfirmClose(ask, d, main));
        EXPECT_EQ(d.shown, 1);
        EXPECT_FALSE(ask);
    }
}

TEST(ExitConfirmation, TheBoxIsClearedBeforeEachQuestion) {
    QWidget main;
    Confirm d;
    d.CheckBox1->setChecked(true);
    d.answer = Stop;
    bool ask = true;
    EXPECT_TRUE(ConfirmClose(ask, d, main));
    EXPECT_FALSE(d.checkedWhenShown);
    EXPECT_TRUE(ask);
}

TEST(ExitConfirmation, NotAskedWhenTheUserSaidSo) {
    QWidget main;
    main.show();
    Confirm d;
    d.answer = Reduce;
    bool ask = false;
    EXPECT_TRUE(ConfirmClose(ask, d, main));
    EXPECT_EQ(d.shown, 0);
    EXPECT_FALSE(ask);
    EXPECT_TRUE(main.isVisible());
}

TEST(ExitConfirmation, NeverAskAgainSurvivesARestart) {
    tallimer::test::TempDir folder;
    {
        QWidget main;
        Confirm d;
        d.answer = TickAndReduce;
        tallimer::OverallState state;
        tallimer::AccountCollection accounts;
        tallimer::LoadAll(folder.str(), accounts, state);
        ASSERT_TRUE(state.askOnExit);
        EXPECT_FALSE(ConfirmClose(state.askOnExit, d, main));
        tallimer::SaveAll(folder.str(), accounts, state);
    }
    // The next run reads the choice back and closes without a question.
    QWidget main;
    Confirm d;
    d.answer = Reduce;
    tallimer::OverallState state;
    tallimer::AccountCollection accounts;
    tallimer::LoadAll(folder.str(), accounts, state);
    EXPECT_FALSE(state.askOnExit);
    EXPECT_TRUE(ConfirmClose(state.askOnExit, d, main));
    EXPECT_EQ(d.shown, 0);
}

TEST(ExitConfirmation, LaidOutWithoutClippingAndPictured) {
    TfConfirm d;
    tallimer::test::ExpectNoClippedCaption(d);
    tallimer::test::SaveScreenshot(d, "exit-confirmation");
}

}  // namespace
