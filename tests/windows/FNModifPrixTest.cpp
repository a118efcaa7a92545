#include "windows/FNModifPrix.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "tests/common/qt/DialogChecks.h"
#include "windows/DialogFlows.h"

using tallimer::Account;
using tallimer::TfModifPrix;

namespace {

// A price dialog whose "not a number" messages are counted instead of shown.
struct PriceDialog : TfModifPrix {
    QStringList messages;
    PriceDialog() {
        showMessage = [this](const QString& m) { messages << m; };
    }
};

// Runs the dialog modally while `user` acts on it once it is up.
int RunWith(QDialog& d, std::function<void()> user) {
    QTimer::singleShot(0, &d, std::move(user));
    return d.exec();
}

TEST(PriceDialog, StartsWithItsCaptionsAndShowsThePriceAsAnInvoiceAmount) {
    PriceDialog d;
    EXPECT_EQ(d.windowTitle(), "Modification d'un prix");
    EXPECT_EQ(d.Label1->text().remove('&'), "Entrer la nouvelle valeur du prix :");
    EXPECT_EQ(d.Edit1->text(), "0,00");
    EXPECT_EQ(d.BitBtn1->text(), "OK");
    EXPECT_TRUE(d.BitBtn1->isDefault());
    EXPECT_EQ(d.BitBtn2->text().remove('&'), "Annuler");

    d.Prix = 123.456f;
    d.show();
    EXPECT_EQ(d.Edit1->text(), "123,50");
    d.hide();
    // Every showing shows the price the caller set last, whatever was typed before.
    d.Edit1->setText("99");
    d.Prix = 12.345f;
    d.show();
    EXPECT_EQ(d.Edit1->text(), "12,35");
    d.FormActivate();
    EXPECT_EQ(d.Edit1->text(), "12,35");
}

TEST(PriceDialog, OkWithoutEditingStoresTheShownRounding) {
    PriceDialog d;
    d.Prix = 123.456f;
    EXPECT_EQ(RunWith(d, [&] { d.BitBtn1->click(); }), QDialog::Accepted);
    EXPECT_EQ(d.Prix, 123.5f);
    EXPECT_TRUE(d.messages.isEmpty());
}

TEST(PriceDialog, ABadEntryIsRefusedAndTheDialogWaitsForAnother) {
    PriceDialog d;
    d.Prix = 3;
    bool openAfterBadEntry = false;
    int result = RunWith(d, [&] {
        d.Edit1->setText("12.5");
        d.BitBtn1->click();
        openAfterBadEntry = d.isVisible() && d.Prix == 3;
        d.Edit1->setText("12,5");
        QTest::keyClick(d.Edit1, Qt::Key_Return);  // Enter presses the default button
    });
    EXPECT_TRUE(openAfterBadEntry);
    EXPECT_EQ(result, QDialog::Accepted);
    ASSERT_EQ(d.messages.size(), 1);
    EXPECT_EQ(d.messages[0], "Valeur non correcte. Recommencez.");
    EXPECT_EQ(d.Prix, 12.5f);
}

TEST(PriceDialog, RefusesWhatIsNotAPlainNumberInTheUsersConventions) {
    const char* bad[] = {"",        "   ",    "12.5",  "1 234,5", "1\u202f234,5",
                         "1.234,5", "12,5 €", "€12,5", "12,5€",   "abc",
                         "12,5,3",  "1e",     "1e999", ",",       "-"};
    for (const char* text : bad) {
        PriceDialog d;
        d.Prix = 7;
        d.Edit1->setText(QString::fromUtf8(text));
        d.BitBtn1Click();
        EXPECT_EQ(d.messages.size(), 1) << text;
        EXPECT_EQ(d.Prix, 7.0f) << text;
        EXPECT_NE(d.result(), QDialog::Accepted) << text;
    }
}

TEST(PriceDialog, AcceptsSignsExponentsAndBlanks) {
    struct Case {
        const char* text;
        float value;
    } cases[] = {{" 12,5 ", 12.5f}, {"-1,5e2", -150.0f}, {"+0,25", 0.25f}, {"7", 7.0f},
                 {",5", 0.5f},      {"0", 0.0f},         {"1E3", 1000.0f}};
    for (const auto& c : cases) {
        PriceDialog d;
        d.Edit1->setText(QString::fromUtf8(c.text));
        d.BitBtn1Click();
        EXPECT_TRUE(d.messages.isEmpty()) << c.text;
        EXPECT_EQ(d.Prix, c.value) << c.text;
        EXPECT_EQ(d.result(), QDialog::Accepted) << c.text;
    }
}

TEST(PriceDialog, CancelEscapeAndCloseBoxKeepThePrice) {
    std::function<void(PriceDialog&)> ways[] = {
        [](PriceDialog& d) { d.BitBtn2->click(); },
        [](PriceDialog& d) { QTest::keyClick(d.Edit1, Qt::Key_Escape); },
        [](PriceDialog& d) { d.close(); },
    };
    for (auto& way : ways) {
        PriceDialog d;
        d.Prix = 4.5f;
        int result = RunWith(d, [&] {
            d.Edit1->setText("8,25");
            way(d);
        });
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_EQ(d.Prix, 4.5f);
        EXPECT_TRUE(d.messages.isEmpty());
    }
}

TEST(PriceCorrection, DoesNothingBeforeTheFirstConnection) {
    PriceDialog d;
    QLineEdit field("1,00");
    float overall = 1;
    int shown = 0;
    QObject::connect(&d, &QDialog::finished, [&] { ++shown; });
    EXPECT_FALSE(tallimer::CorrectPeriodCost(nullptr, d, field));
    EXPECT_FALSE(tallimer::CorrectOverallCost(nullptr, overall, d, field));
    EXPECT_EQ(shown, 0);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(overall, 1.0f);
    EXPECT_EQ(field.text(), "1,00");
}

TEST(PriceCorrection, OkStoresTheValueAndTheFieldShowsTheTypedText) {
    Account account;
    account.periodCost = 123.456f;
    float overall = 500;
    PriceDialog d;
    QLineEdit periodField("123,46"), overallField("500,00");

    bool shownRounded = false;
    QTimer::singleShot(0, &d, [&] {
        shownRounded = d.Edit1->text() == "123,50";
        d.BitBtn1->click();
    });
    EXPECT_TRUE(tallimer::CorrectPeriodCost(&account, d, periodField));
    EXPECT_TRUE(shownRounded);
    EXPECT_EQ(account.periodCost, 123.5f);
    EXPECT_EQ(periodField.text(), "123,50");

    // The overall cost is corrected on its own: the period cost stays as it is.
    QTimer::singleShot(0, &d, [&] {
        d.Edit1->setText(" 12,5");
        d.BitBtn1->click();
    });
    EXPECT_TRUE(tallimer::CorrectOverallCost(&account, overall, d, overallField));
    EXPECT_EQ(overall, 12.5f);
    EXPECT_EQ(overallField.text(), " 12,5");
    EXPECT_EQ(account.periodCost, 123.5f);
}

TEST(PriceCorrection, CancelAfterEditingChangesNothing) {
    Account account;
    account.periodCost = 2.5f;
    PriceDialog d;
    QLineEdit field("2,50");
    QTimer::singleShot(0, &d, [&] {
        d.Edit1->setText("9,99");
        d.BitBtn2->click();
    });
    EXPECT_FALSE(tallimer::CorrectPeriodCost(&account, d, field));
    EXPECT_EQ(account.periodCost, 2.5f);
    EXPECT_EQ(field.text(), "2,50");
}

TEST(PriceCorrection, StoresIntoTheAccountItWasOpenedOn) {
    // A new connection may change the current account while the dialog is open; the entry
    // belongs to the account whose cost was shown.
    Account first, second;
    first.periodCost = 1;
    second.periodCost = 2;
    Account* current = &first;
    PriceDialog d;
    QLineEdit field;
    QTimer::singleShot(0, &d, [&] {
        current = &second;
        first.periodCost = 1.25f;  // a tick meanwhile
        d.Edit1->setText("3");
        d.BitBtn1->click();
    });
    EXPECT_TRUE(tallimer::CorrectPeriodCost(current, d, field));
    EXPECT_EQ(first.periodCost, 3.0f);
    EXPECT_EQ(second.periodCost, 2.0f);
}

TEST(PriceDialog, LaidOutWithoutClippingAndPictured) {
    PriceDialog d;
    d.Prix = 123.456f;
    d.FormActivate();
    tallimer::test::ExpectNoClippedCaption(d);
    // Wide enough for its caption in a title bar: a frame with icon and three buttons took
    // about 120 px of a 226 px dialog and cut the caption.
    QFont bold = d.font();
    bold.setBold(true);
    const int caption = QFontMetrics(bold).horizontalAdvance(d.windowTitle());
    EXPECT_GE(d.width(), caption + 120);
    EXPECT_GE(d.width(), TfModifPrix::TitleBarWidth(d.windowTitle(), d.font()));
    tallimer::test::SaveScreenshot(d, "price-dialog");
}

}  // namespace
