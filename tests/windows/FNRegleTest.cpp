#include "windows/FNRegle.h"

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <string>
#include <vector>

#include "controls/DateEdit.h"
#include "controls/ErrorReport.h"
#include "controls/Timeedit.h"
#include "support/Date.h"
#include "support/Errors.h"
#include "tests/common/qt/DialogChecks.h"

using tallimer::Account;
using tallimer::AccountCollection;
using tallimer::ConversionError;
using tallimer::EncodeDate;
using tallimer::msTIME;
using tallimer::TDateEdit;
using tallimer::TfRegle;

namespace {

// Captures what the application's error box would show.
class ErrorCapture {
  public:
    ErrorCapture() {
        previous_ = tallimer::SetErrorReportHandler(
            [this](QObject*, const std::exception& e) { messages.push_back(e.what()); });
    }
    ~ErrorCapture() { tallimer::SetErrorReportHandler(previous_); }
    std::vector<std::string> messages;

  private:
    tallimer::ErrorReportHandler previous_;
};

QString CheckedCaption(const QGroupBox* group) {
    for (auto* b : group->findChildren<QRadioButton*>())
        if (b->isChecked()) return b->text().remove('&');
    return {};
}

int RunWith(QDialog& d, std::function<void()> user) {
    QTimer::singleShot(0, &d, std::move(user));
    return d.exec();
}

TEST(SettingsDialog, ANewAccountShowsTheDefaultTariff) {
    AccountCollection accounts;
    accounts.findOrCreate("Maison");
    TfRegle d;
    EXPECT_EQ(d.windowTitle(), "Règlages des comptes");
    d.Prepare(accounts, "MAISON");  // letter case does not matter
    ASSERT_EQ(d.cbFAI->currentIndex(), 0);
    EXPECT_EQ(d.editedAccount, accounts.find("Maison"));
    EXPECT_FALSE(d.cbForfait->isChecked());
    EXPECT_EQ(d.teDureeForfait->text(), "00:00:00");
    EXPECT_EQ(d.tePrixForfait->text(), "0,0000");
    EXPECT_EQ(CheckedCaption(d.RadioGroup1), "Nuit");
    EXPECT_EQ(d.tePrixSec->text(), "0,2667");
    EXPECT_EQ(d.teDureeCredit->text(), "00:00:00");
    EXPECT_EQ(d.tePrixCredit->text(), "0,74");
    EXPECT_EQ(d.tePrixRed->text(), "0,5000");
    EXPECT_FALSE(d.cbPrimaliste->isChecked());
    EXPECT_FALSE(d.cbPrimalisteInternet->isChecked());
    EXPECT_EQ(CheckedCaption(d.RadioGroup2), "Soir et week-end");
    EXPECT_EQ(d.DateFacture->date(), QDate(1899, 12, 30));
    EXPECT_EQ(d.DateFacture->text(), "30/12/1899");
    EXPECT_TRUE(d.DateFacture->calendarPopup());
    EXPECT_EQ(d.tePeriode->text(), "1");

    // OK without a change stores what the account held, the shown roundings aside.
    Account before = *d.editedAccount;
    d.BitBtn1Click();
    const Account& after = *accounts.find("Maison");
    EXPECT_EQ(after.pricePerSecond, 0.2667f);
    EXPECT_EQ(after.offPeakPrice, before.offPeakPrice);
    EXPECT_EQ(after.creditPrice, before.creditPrice);
    EXPECT_EQ(after.packageType, 1);
    EXPECT_EQ(after.reductionType, 1);
    EXPECT_EQ(after.nextInvoice, 0.0);
    EXPECT_EQ(after.periodMonths, 1);
}

TEST(SettingsDialog, ShowsEveryFieldOfAnAccountInItsFormat) {
    AccountCollection accounts;
    Account& a = accounts.findOrCreate("fai");
    a.packageEnabled = true;
    a.packageDuration = msTIME::Hms(10, 0, 0, 0);
    a.packagePrice = 123.45678f;
    a.packageType = 2;
    a.pricePerSecond = 0.0047f;
    a.creditDuration = msTIME::Hms(0, 3, 0, 0);
    a.creditPrice = 12.345f;
    a.offPeakPrice = -0.00236f;
    a.primaliste = true;
    a.primalisteInternet = true;
    a.reductionType = 0;
    a.nextInvoice = EncodeDate(2001, 3, 15) + 0.75;
    a.periodMonths = 24;
    TfRegle d;
    d.Prepare(accounts, "fai");
    EXPECT_TRUE(d.cbForfait->isChecked());
    EXPECT_EQ(d.teDureeForfait->text(), "10:00:00");
    EXPECT_EQ(d.tePrixForfait->text(), "123,4568");
    EXPECT_EQ(CheckedCaption(d.RadioGroup1), "Nuit et Week-end");
    EXPECT_EQ(d.tePrixSec->text(), "0,0047");
    EXPECT_EQ(d.teDureeCredit->text(), "00:03:00");
    EXPECT_EQ(d.tePrixCredit->text(), "12,35");
    EXPECT_EQ(d.tePrixRed->text(), "-0,0024");
    EXPECT_TRUE(d.cbPrimaliste->isChecked());
    EXPECT_TRUE(d.cbPrimalisteInternet->isChecked());
    EXPECT_EQ(CheckedCaption(d.RadioGroup2), "Soirée");
    EXPECT_EQ(d.DateFacture->date(), QDate(2001, 3, 15));
    EXPECT_EQ(d.tePeriode->text(), "24");
}

TEST(SettingsDialog, BeforeAnyConnectionNothingIsSelectedAndOkStoresNothing) {
    AccountCollection accounts;
    accounts.findOrCreate("Maison").pricePerSecond = 0.01f;
    accounts.findOrCreate("Travail");
    TfRegle d;
    d.Prepare(accounts, "");
    EXPECT_EQ(d.cbFAI->count(), 2);
    EXPECT_EQ(d.cbFAI->currentIndex(), -1);
    EXPECT_TRUE(d.cbFAI->currentText().isEmpty());
    EXPECT_EQ(d.editedAccount, nullptr);
    // The fields keep their first contents.
    EXPECT_EQ(d.tePrixSec->text(), "0,00");
    EXPECT_EQ(d.tePrixForfait->text(), "0,00");
    EXPECT_EQ(d.tePrixCredit->text(), "0,00");
    EXPECT_EQ(d.tePrixRed->text(), "0,00");
    EXPECT_EQ(d.tePeriode->text(), "1");
    d.tePrixSec->setText("9");
    EXPECT_EQ(RunWith(d, [&] { d.BitBtn1->click(); }), QDialog::Accepted);
    EXPECT_EQ(accounts.find("Maison")->pricePerSecond, 0.01f);
    EXPECT_EQ(accounts.find("Travail")->pricePerSecond, Account().pricePerSecond);

    // An account under the empty name is the one of a connection without a name.
    accounts.findOrCreate("");
    d.Prepare(accounts, "");
    EXPECT_EQ(d.cbFAI->currentIndex(), 0);
    EXPECT_EQ(d.editedAccount, accounts.find(""));
}

TEST(SettingsDialog, OkStoresIntoTheProviderChosenInTheList) {
    AccountCollection accounts;
    accounts.findOrCreate("Alpha");
    accounts.findOrCreate("Beta");
    TfRegle d;
    d.Prepare(accounts, "alpha");
    int result = RunWith(d, [&] {
        d.tePrixSec->setText("0,5");  // lost: another provider is chosen before OK
        d.cbFAI->setFocus();
        QTest::keyClick(d.cbFAI, Qt::Key_Down);
        d.tePrixSec->setText("0,0123");
        d.BitBtn1->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(d.cbFAI->currentText(), "Beta");
    EXPECT_EQ(accounts.find("Beta")->pricePerSecond, 0.0123f);
    EXPECT_EQ(accounts.find("Alpha")->pricePerSecond, Account().pricePerSecond);
}

TEST(SettingsDialog, AnAccountCreatedBetweenTwoOpeningsLeavesEveryEntryOnItsOwnAccount) {
    AccountCollection accounts;
    accounts.findOrCreate("a");
    accounts.findOrCreate("c");
    TfRegle d;
    d.Prepare(accounts, "c");
    accounts.findOrCreate("b").periodMonths = 7;  // a connection under a new name
    d.Prepare(accounts, "c");
    ASSERT_EQ(d.cbFAI->count(), 3);
    const char* names[] = {"a", "b", "c"};
    for (int i = 0; i < 3; ++i) {
        d.cbFAI->setCurrentIndex(i);
        d.cbFAIChange();
        EXPECT_EQ(d.cbFAI->currentText(), names[i]);
        ASSERT_EQ(d.editedAccount, accounts.find(names[i]));
        d.tePeriode->setText(QString::number(i + 2));
        d.BitBtn1Click();
    }
    EXPECT_EQ(accounts.find("a")->periodMonths, 2);
    EXPECT_EQ(accounts.find("b")->periodMonths, 3);
    EXPECT_EQ(accounts.find("c")->periodMonths, 4);
}

TEST(SettingsDialog, ABadPriceStopsStoringThereAndTheDialogStillClosesWithOk) {
    AccountCollection accounts;
    Account& a = accounts.findOrCreate("Maison");
    TfRegle d;
    d.Prepare(accounts, "Maison");
    ErrorCapture errors;
    // Showing fills the fields again, so the user types once the dialog is up.
    int result = RunWith(d, [&] {
        d.cbForfait->setChecked(true);
        d.teDureeForfait->SetHeure("02:00:00");
        d.tePrixForfait->setText("15,5");
        d.tePrixSec->setText("1.5");  // a point under French settings
        d.teDureeCredit->SetHeure("00:03:00");
        d.tePrixCredit->setText("0,80");
        d.cbPrimaliste->setChecked(true);
        d.tePeriode->setText("3");
        d.BitBtn1->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    ASSERT_EQ(errors.messages.size(), 1u);
    EXPECT_EQ(errors.messages[0], "'1.5' n'est pas une valeur en virgule flottante correcte");
    // Stored before the bad field...
    EXPECT_TRUE(a.packageEnabled);
    EXPECT_EQ(a.packageDuration.totalMs, 7200000);
    EXPECT_EQ(a.packageRemaining.totalMs, 7200000);
    EXPECT_EQ(a.packagePrice, 15.5f);
    // ...and nothing from it on.
    const Account fresh;
    EXPECT_EQ(a.pricePerSecond, fresh.pricePerSecond);
    EXPECT_EQ(a.creditDuration.totalMs, 0);
    EXPECT_EQ(a.creditPrice, fresh.creditPrice);
    EXPECT_FALSE(a.primaliste);
    EXPECT_EQ(a.periodMonths, 1);

    // Called directly, the error comes out to the caller.
    d.Prepare(accounts, "Maison");
    d.tePrixRed->setText("0,5 €");
    EXPECT_THROW(d.BitBtn1Click(), ConversionError);
}

// The keys a user types into the dialog's fields once it is on screen.
TEST(SettingsDialog, DatesAreTypedDayMonthYearAndNothingHalfTypedOrImpossibleIsStored) {
    AccountCollection accounts;
    Account& a = accounts.findOrCreate("x");
    a.nextInvoice = EncodeDate(2027, 2, 10);
    a.packageDuration = msTIME::Hms(10, 0, 0, 0);
    TfRegle d;
    d.Prepare(accounts, "x");
    ErrorCapture errors;
    d.show();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    TDateEdit* date = d.DateFacture;
    QLineEdit* dateText = date->editor();
    auto typeDate = [&](int at, const char* keys) {
        dateText->setFocus(Qt::MouseFocusReason);
        dateText->deselect();
        dateText->setCursorPosition(at);
        QTest::keyClicks(dateText, keys);
    };

    // From the start of a full field, each section takes its digits and moves on.
    typeDate(0, "25122026");
    EXPECT_EQ(date->text(), "25/12/2026");
    ASSERT_TRUE(date->Commit());
    EXPECT_EQ(date->date(), QDate(2026, 12, 25));
    typeDate(3, "02");
    EXPECT_EQ(date->text(), "25/02/2026");
    ASSERT_TRUE(date->Commit());

    // A day the month lacks is shown as typed, then refused when the field is left or on
    // Return, naming it; the focus stays and OK stores nothing.
    typeDate(0, "30");
    EXPECT_EQ(date->text(), "30/02/2026");
    EXPECT_TRUE(errors.messages.empty());
    d.tePeriode->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dateText->hasFocus());
    EXPECT_EQ(date->text(), "30/02/2026");
    QTest::keyClick(dateText, Qt::Key_Return);
    d.BitBtn1->click();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(a.nextInvoice, EncodeDate(2027, 2, 10));
    EXPECT_EQ(errors.messages,
              std::vector<std::string>(3, "'30/02/2026' n'est pas une date correcte"));
    errors.messages.clear();

    // Escape gives back the last date taken.
    QTest::keyClick(dateText, Qt::Key_Escape);
    EXPECT_EQ(date->text(), "25/02/2026");
    EXPECT_EQ(date->date(), QDate(2026, 2, 25));
    typeDate(3, "03");
    EXPECT_EQ(date->text(), "25/03/2026");
    // The drop-down calendar starts on the date typed and gives back the day chosen.
    date->dropDown()->click();
    auto* calendar = date->findChild<QCalendarWidget*>();
    ASSERT_TRUE(calendar);
    EXPECT_TRUE(calendar->isVisible());
    EXPECT_EQ(calendar->selectedDate(), QDate(2026, 3, 25));
    emit calendar->clicked(QDate(2026, 3, 24));
    EXPECT_FALSE(calendar->isVisible());
    EXPECT_EQ(date->date(), QDate(2026, 3, 24));
    typeDate(0, "25");

    // A duration left half typed holds OK back too.
    d.teDureeForfait->setFocus(Qt::TabFocusReason);
    d.teDureeForfait->selectAll();
    QTest::keyClicks(d.teDureeForfait, "5");
    d.BitBtn1->click();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(a.packageDuration.totalMs, 36000000);
    EXPECT_EQ(errors.messages,
              std::vector<std::string>{"'5_:__:__' n'est pas une durée correcte (hh:mm:ss)"});
    QTest::keyClicks(d.teDureeForfait, "30000");
    EXPECT_EQ(d.teDureeForfait->text(), "53:00:00");

    d.BitBtn1->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(a.nextInvoice, EncodeDate(2026, 3, 25));
    EXPECT_EQ(a.packageDuration.totalMs, 190800000);
    EXPECT_EQ(errors.messages.size(), 1u);
}

TEST(SettingsDialog, ThePeriodTakesAnyIntegerKeepingSixteenBits) {
    struct Case {
        const char* text;
        int stored;
    } cases[] = {{"0", 0}, {"24", 24}, {" 12", 12}, {"$C", 12}, {"70000", 4464}, {"-1", 65535}};
    AccountCollection accounts;
    Account& a = accounts.findOrCreate("x");
    TfRegle d;
    for (const auto& c : cases) {
        d.Prepare(accounts, "x");
        d.tePeriode->setText(c.text);
        d.BitBtn1Click();
        EXPECT_EQ(a.periodMonths, c.stored) << c.text;
    }
    // A bad period is the last field: everything else is stored already.
    d.Prepare(accounts, "x");
    d.tePrixSec->setText("0,0047");
    d.tePeriode->setText("1,5");
    ErrorCapture errors;
    d.BitBtn1->click();
    ASSERT_EQ(errors.messages.size(), 1u);
    EXPECT_EQ(errors.messages[0], "'1,5' n'est pas une valeur entière correcte");
    EXPECT_EQ(a.pricePerSecond, 0.0047f);
    EXPECT_EQ(a.periodMonths, 65535);
}

TEST(SettingsDialog, ThePackageDurationResetsTheRemainingTimeOnlyBeforeTheCharge) {
    AccountCollection accounts;
    Account& a = accounts.findOrCreate("x");
    a.packageEnabled = true;
    a.packageDuration = msTIME::Hms(10, 0, 0, 0);
    a.packageRemaining = msTIME::Hms(4, 0, 0, 0);
    TfRegle d;
    d.Prepare(accounts, "x");
    d.teDureeForfait->SetHeure("20:00:00");
    d.BitBtn1Click();
    EXPECT_EQ(a.packageDuration.totalMs, 72000000);
    EXPECT_EQ(a.packageRemaining.totalMs, 72000000);

    a.packageCharged = true;
    a.packageRemaining = msTIME::Hms(4, 0, 0, 0);
    d.Prepare(accounts, "x");
    d.teDureeForfait->SetHeure("30:00:00");
    d.BitBtn1Click();
    EXPECT_EQ(a.packageDuration.totalMs, 108000000);
    EXPECT_EQ(a.packageRemaining.totalMs, 14400000);
}

TEST(SettingsDialog, CancelEscapeAndTheCloseBoxStoreNothing) {
    std::function<void(TfRegle&)> ways[] = {
        [](TfRegle& d) { d.BitBtn2->click(); },
        [](TfRegle& d) { QTest::keyClick(d.tePrixSec, Qt::Key_Escape); },
        [](TfRegle& d) { d.close(); },
    };
    for (auto& way : ways) {
        AccountCollection accounts;
        Account& a = accounts.findOrCreate("x");
        TfRegle d;
        d.Prepare(accounts, "x");
        int result = RunWith(d, [&] {
            d.tePrixSec->setText("9,99");
            d.cbForfait->setChecked(true);
            d.tePeriode->setText("6");
            way(d);
        });
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_EQ(a.pricePerSecond, Account().pricePerSecond);
        EXPECT_FALSE(a.packageEnabled);
        EXPECT_EQ(a.periodMonths, 1);
    }
}

TEST(SettingsDialog, ShowingAgainFillsFromTheAccountAndNegativePricesAreKept) {
    AccountCollection accounts;
    Account& a = accounts.findOrCreate("x");
    TfRegle d;
    d.Prepare(accounts, "x");
    d.show();
    d.tePrixSec->setText("abc");
    d.hide();
    d.show();
    EXPECT_EQ(d.tePrixSec->text(), "0,2667");
    d.tePrixSec->setText("-0,5");
    d.tePrixRed->setText(" 1e-3 ");
    d.BitBtn1Click();
    EXPECT_EQ(a.pricePerSecond, -0.5f);
    EXPECT_EQ(a.offPeakPrice, 0.001f);
    d.hide();
}

TEST(SettingsDialog, DatesAndTypesGoBackAsTheyAreShown) {
    AccountCollection accounts;
    Account& a = accounts.findOrCreate("x");
    TfRegle d;
    d.Prepare(accounts, "x");
    d.DateFacture->setDate(QDate(2001, 3, 15));
    d.RadioGroup1->findChildren<QRadioButton*>()[0]->click();
    d.RadioGroup2->findChildren<QRadioButton*>()[0]->click();
    d.BitBtn1Click();
    EXPECT_EQ(a.nextInvoice, EncodeDate(2001, 3, 15));
    EXPECT_EQ(a.packageType, 0);
    EXPECT_EQ(a.reductionType, 0);

    // A type beyond the captions shows the last one, a negative one none; each is stored
    // as shown.
    a.packageType = 5;
    a.reductionType = -3;
    d.Prepare(accounts, "x");
    EXPECT_EQ(CheckedCaption(d.RadioGroup1), "Nuit et Week-end");
    EXPECT_EQ(CheckedCaption(d.RadioGroup2), "");
    d.BitBtn1Click();
    EXPECT_EQ(a.packageType, 2);
    EXPECT_EQ(a.reductionType, -1);

    // A stored date outside the calendar's years still shows a date, never the last one.
    a.nextInvoice = -1.0e6;
    d.DateFacture->setDate(QDate(2020, 1, 1));
    d.Prepare(accounts, "x");
    EXPECT_EQ(d.DateFacture->date(), QDate(1, 1, 1));
}

TEST(SettingsDialog, TheSpinnerKeepsBetweenOneAndTwelveWithoutWrapping) {
    TfRegle d;
    auto* up = d.UpDown1->upButton;
    auto* down = d.UpDown1->downButton;
    d.tePeriode->setText("11");
    up->click();
    EXPECT_EQ(d.tePeriode->text(), "12");
    up->click();
    EXPECT_EQ(d.tePeriode->text(), "12");
    d.tePeriode->setText("2");
    down->click();
    EXPECT_EQ(d.tePeriode->text(), "1");
    down->click();
    EXPECT_EQ(d.tePeriode->text(), "1");
    // A typed value out of range comes back within it; a text that is no number steps
    // from the last position.
    d.tePeriode->setText("24");
    up->click();
    EXPECT_EQ(d.tePeriode->text(), "12");
    d.tePeriode->setText("0");
    down->click();
    EXPECT_EQ(d.tePeriode->text(), "1");
    d.tePeriode->setText("x");
    up->click();
    EXPECT_EQ(d.tePeriode->text(), "2");
    // The arrow keys in the field step too.
    QTest::keyClick(d.tePeriode, Qt::Key_Up);
    EXPECT_EQ(d.tePeriode->text(), "3");
    QTest::keyClick(d.tePeriode, Qt::Key_Down);
    EXPECT_EQ(d.tePeriode->text(), "2");
}

TEST(SettingsDialog, LaidOutWithoutClippingAndPictured) {
    AccountCollection accounts;
    accounts.findOrCreate("Maison");
    TfRegle d;
    d.Prepare(accounts, "Maison");
    tallimer::test::ExpectNoClippedCaption(d);
    tallimer::test::SaveScreenshot(d, "settings-dialog");
}

}  // namespace
