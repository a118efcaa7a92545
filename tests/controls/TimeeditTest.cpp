#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <optional>

#include "controls/Timeedit.h"
#include "support/Errors.h"
#include "tests/common/Fakes.h"
#include "tests/common/qt/DialogChecks.h"

using tallimer::msTIME;
using tallimer::test::FakeClock;

namespace {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// What the field's text means, or nothing when it does not parse.
std::optional<std::int32_t> Parse(const QString& text) {
    try {
        msTIME t;
        t.FromText(text.toStdString());
        return t.totalMs;
    } catch (const tallimer::ConversionError&) {
        return std::nullopt;
    }
}

struct Field {
    FakeClock clock;
    std::unique_ptr<TTimeEdit> edit;
    explicit Field(std::int32_t utc = 45296789) {
        clock.utc = utc;
        edit = std::make_unique<TTimeEdit>(nullptr, &clock);
    }
};

}  // namespace

TEST(TimeEdit, StartsWithTheUtcTimeOfDay) {
    Field f(45296789);  // 12:34:56.789 UTC
    EXPECT_EQ(f.edit->value.totalMs, 45296789);
    EXPECT_EQ(f.edit->Value().totalMs, 45296789);
    EXPECT_EQ(f.edit->text(), "12:34:56");
    EXPECT_EQ(f.edit->GetHeure(), "12:34:56");
    EXPECT_FALSE(f.edit->inputMask().isEmpty());

    f.clock.utc = 0;
    f.edit->HeureCourante();
    EXPECT_EQ(f.edit->text(), "00:00:00");
    EXPECT_EQ(f.edit->value.totalMs, 0);

    TTimeEdit system;  // the machine's clock
    EXPECT_GE(system.value.totalMs, 0);
    EXPECT_LT(system.value.totalMs, 86400000);
}

TEST(TimeEdit, SetHeureSetsTextThenValue) {
    Field f;
    f.edit->SetHeure("02:30:15");
    EXPECT_EQ(f.edit->value.totalMs, (2 * 3600 + 30 * 60 + 15) * 1000);
    EXPECT_EQ(f.edit->text(), "02:30:15");

    // Texts the mask cannot hold are kept as they are.
    f.edit->SetHeure("1:2:3");
    EXPECT_EQ(f.edit->text(), "1:2:3");
    EXPECT_EQ(f.edit->value.totalMs, 3723000);
    EXPECT_EQ(f.edit->GetHeure(), "01:02:03");
    f.edit->SetHeure("99:99:99");
    EXPECT_EQ(f.edit->value.totalMs, 362439000);
    EXPECT_EQ(f.edit->GetHeure(), "100:40:39");

    // A bad text stays shown, the value does not move, and the caller hears of it.
    try {
        f.edit->SetHeure(":12:00");
        FAIL() << "no error";
    } catch (const tallimer::ConversionError& e) {
        EXPECT_STREQ(e.what(), "'' n'est pas une valeur entière correcte");
    }
    EXPECT_EQ(f.edit->text(), ":12:00");
    EXPECT_EQ(f.edit->value.totalMs, 362439000);
    EXPECT_THROW(f.edit->SetHeure("1:2:3:4"), tallimer::ConversionError);
    EXPECT_EQ(f.edit->value.totalMs, 362439000);
}

TEST(TimeEdit, SetFHeureShowsTheTextForm) {
    Field f;
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, "00:00:00"},          {5025000, "01:23:45"},     {3599999, "00:59:59"},
        {360000000, "100:00:00"}, {2147483647, "596:31:23"}, {-2000, "00:00:0-2"},
        {-61000, "00:0-1:0-1"},   {90000000, "25:00:00"}};
    for (bool readOnly : {true, false}) {
        f.edit->setReadOnly(readOnly);
        for (auto [ms, text] : cases) {
            f.edit->SetFHeure(ms);
            EXPECT_EQ(f.edit->value.totalMs, ms);
            EXPECT_EQ(f.edit->text(), text) << ms << (readOnly ? " read-only" : " editable");
            EXPECT_EQ(f.edit->displayText(), text) << ms << (readOnly ? " read-only" : " editable");
        }
    }
}

TEST(TimeEdit, ReadOnlyFieldsDropTheMaskAndEditableOnesGetItBack) {
    Field f;
    f.edit->SetFHeure(5025000);
    EXPECT_EQ(f.edit->inputMask(), "09:99:99;_");
    f.edit->setReadOnly(true);
    EXPECT_EQ(f.edit->inputMask(), "");
    EXPECT_EQ(f.edit->text(), "01:23:45");
    f.edit->SetFHeure(445506000);  // 123:45:06
    EXPECT_EQ(f.edit->text(), "123:45:06");
    f.edit->setReadOnly(false);
    EXPECT_EQ(f.edit->inputMask(), "099:99:99;_");
    EXPECT_EQ(f.edit->text(), "123:45:06");
    EXPECT_TRUE(f.edit->hasAcceptableInput());
    EXPECT_EQ(f.edit->value.totalMs, 445506000);
}

TEST(TimeEdit, TypingKeepsTheValueOnTheTextAtEveryKeystroke) {
    Field f;
    f.edit->SetFHeure(0);
    f.edit->home(false);
    QSignalSpy changes(f.edit.get(), &QLineEdit::textChanged);
    int keys = 0;
    for (char key : std::string("013015")) {
        QTest::keyClick(f.edit.get(), key);
        ++keys;
        auto parsed = Parse(f.edit->text());
        ASSERT_TRUE(parsed) << f.edit->text().toStdString();
        EXPECT_EQ(f.edit->value.totalMs, *parsed) << f.edit->text().toStdString();
    }
    EXPECT_EQ(f.edit->text(), "01:30:15");
    EXPECT_EQ(f.edit->value.totalMs, 5415000);
    // One change per keystroke at most: the handler never writes the text back.
    EXPECT_LE(changes.count(), keys);

    // Three hour digits in a field that shows them.
    f.edit->SetFHeure(360000000);
    f.edit->home(false);
    QTest::keyClicks(f.edit.get(), "2");
    EXPECT_EQ(f.edit->text(), "200:00:00");
    EXPECT_EQ(f.edit->value.totalMs, 720000000);
}

TEST(TimeEdit, HalfTypedTextKeepsTheLastValueUntilCommitted) {
    Field f;
    f.edit->SetFHeure(9015000);  // 02:30:15
    QSignalSpy failed(f.edit.get(), &TTimeEdit::conversionFailed);
    f.edit->selectAll();
    EXPECT_NO_THROW(QTest::keyClicks(f.edit.get(), "1"));
    EXPECT_EQ(f.edit->text(), "1::");
    EXPECT_EQ(f.edit->displayText(), "1_:__:__");
    EXPECT_EQ(f.edit->value.totalMs, 9015000);
    EXPECT_EQ(failed.count(), 0);  // no complaint while typing

    QTest::keyClicks(f.edit.get(), "2");
    EXPECT_EQ(f.edit->text(), "12::");
    EXPECT_EQ(f.edit->value.totalMs, 9015000);

    // Return is refused with what the user typed, and the text stays for correcting.
    QTest::keyClick(f.edit.get(), Qt::Key_Return);
    EXPECT_EQ(f.edit->displayText(), "12:__:__");
    EXPECT_EQ(f.edit->value.totalMs, 9015000);
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(),
              Q("'12:__:__' n'est pas une durée correcte (hh:mm:ss)"));

    // Escape gives back the value of the last commit; a complete field needs nothing more.
    QTest::keyClick(f.edit.get(), Qt::Key_Escape);
    EXPECT_EQ(f.edit->text(), "02:30:15");
    EXPECT_EQ(f.edit->value.totalMs, 9015000);
    EXPECT_TRUE(f.edit->Commit());
    EXPECT_EQ(failed.count(), 1);
}

TEST(TimeEdit, APartlyTypedFieldIsRefusedNotCompletedBehindTheUsersBack) {
    Field f;
    f.edit->show();  // a field of a window on screen
    f.edit->SetFHeure(9015000);
    QSignalSpy failed(f.edit.get(), &TTimeEdit::conversionFailed);
    f.edit->end(false);
    QTest::keyClick(f.edit.get(), Qt::Key_Backspace);  // 02:30:1_ reads 02:30:01 meanwhile
    EXPECT_EQ(f.edit->value.totalMs, 9001000);
    EXPECT_EQ(f.edit->displayText(), "02:30:1_");
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(f.edit.get(), &out);
    EXPECT_EQ(f.edit->displayText(), "02:30:1_");
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(),
              Q("'02:30:1_' n'est pas une durée correcte (hh:mm:ss)"));
    // Completed by the user, it is taken.
    QTest::keyClick(f.edit.get(), '7');
    EXPECT_TRUE(f.edit->Commit());
    EXPECT_EQ(f.edit->value.totalMs, 9017000);
    EXPECT_EQ(failed.count(), 1);
}

TEST(TimeEdit, FocusLeavingForAPopupIsNoCommit) {
    Field f;
    f.edit->show();  // a field of a window on screen
    f.edit->SetFHeure(9015000);
    QSignalSpy failed(f.edit.get(), &TTimeEdit::conversionFailed);
    f.edit->selectAll();
    QTest::keyClick(f.edit.get(), Qt::Key_Delete);
    EXPECT_EQ(f.edit->text(), "::");
    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(f.edit.get(), &popup);
    EXPECT_EQ(failed.count(), 0);
    QFocusEvent tab(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(f.edit.get(), &tab);
    EXPECT_EQ(f.edit->text(), "::");
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(),
              Q("'__:__:__' n'est pas une durée correcte (hh:mm:ss)"));
}

// In a window, as in the settings dialog: typing "5" or "1:2:3" and tabbing away.
TEST(TimeEdit, LeavingAHalfTypedFieldKeepsTheFocusAndNamesTheText) {
    QWidget window;
    FakeClock clock;
    clock.utc = 0;
    auto* edit = new TTimeEdit(&window, &clock);
    auto* next = new QLineEdit(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(edit);
    layout->addWidget(next);
    edit->SetFHeure(5025000);  // 01:23:45
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QStringList messages;
    QObject::connect(edit, &TTimeEdit::conversionFailed, [&](const QString& m) { messages << m; });

    const std::pair<const char*, const char*> typed[] = {{"5", "5_:__:__"}, {"1:2:3", "1_:2_:3_"}};
    for (auto [keys, shown] : typed) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, keys);
        EXPECT_EQ(edit->displayText(), shown);
        QTest::keyClick(edit, Qt::Key_Tab);
        QCoreApplication::processEvents();
        EXPECT_TRUE(edit->hasFocus()) << keys;
        EXPECT_EQ(edit->displayText(), shown);
        ASSERT_EQ(messages.size(), 1) << keys;
        EXPECT_EQ(messages.takeFirst(),
                  QString("'%1' n'est pas une durée correcte (hh:mm:ss)").arg(shown));
        if (std::string(keys) == "5") {
            QMessageBox box(QMessageBox::Critical, "Le Tallimer Internet",
                            QString("'%1' n'est pas une durée correcte (hh:mm:ss)").arg(shown));
            tallimer::test::SaveScreenshots(window, box, "time-field-refused");
        }

        // Escape, then Tab: the old value, and the focus goes on without a word.
        QTest::keyClick(edit, Qt::Key_Escape);
        EXPECT_EQ(edit->text(), "01:23:45");
        QTest::keyClick(edit, Qt::Key_Tab);
        QCoreApplication::processEvents();
        EXPECT_TRUE(next->hasFocus());
        EXPECT_TRUE(messages.isEmpty());
        EXPECT_EQ(edit->value.totalMs, 5025000);
    }
}

TEST(TimeEdit, SettersChangeTheTextWithoutComingBackThroughTheChangeHandler) {
    Field f;
    // An owner that echoes every change back into the field must not loop.
    int echoes = 0;
    QObject::connect(f.edit.get(), &QLineEdit::textChanged, [&](const QString&) {
        if (++echoes > 50) return;
        f.edit->SetFHeure(f.edit->value);
    });
    f.edit->SetFHeure(5025000);
    EXPECT_LE(echoes, 3);
    EXPECT_EQ(f.edit->text(), "01:23:45");
    EXPECT_EQ(f.edit->value.totalMs, 5025000);
    echoes = 0;
    f.edit->SetHeure("02:30:15");
    EXPECT_LE(echoes, 3);
    EXPECT_EQ(f.edit->value.totalMs, 9015000);
}

TEST(TimeEdit, ClicksAndDoubleClicksAreReported) {
    Field f;
    f.edit->setReadOnly(true);
    f.edit->resize(100, 24);
    QSignalSpy clicks(f.edit.get(), &TTimeEdit::clicked);
    QSignalSpy doubles(f.edit.get(), &TTimeEdit::doubleClicked);
    QTest::mouseClick(f.edit.get(), Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(doubles.count(), 0);
    QTest::mouseDClick(f.edit.get(), Qt::LeftButton);
    EXPECT_EQ(doubles.count(), 1);
    QTest::mouseClick(f.edit.get(), Qt::RightButton);
    EXPECT_EQ(clicks.count(), 1);
}

// The mask follows the text's shape: one to three hour digits, nothing else around it.
TEST(TimeEdit, TheMaskHoldsOnlyTextsOfTheTimeShape) {
    Field f;
    const std::pair<const char*, const char*> cases[] = {{"1:02:03", "09:99:99;_"},
                                                         {"12:34:56", "09:99:99;_"},
                                                         {"596:31:23", "099:99:99;_"},
                                                         {"1000:00:00", ""},
                                                         {"12:3:45", ""},
                                                         {"12:34:5", ""},
                                                         {"12:34:567", ""},
                                                         {"12-34:56", ""},
                                                         {" 12:34:56", ""},
                                                         {"00:0-1:0-1", ""}};
    for (auto [text, mask] : cases) {
        try {
            f.edit->SetHeure(text);
        } catch (const tallimer::ConversionError&) {
        }
        EXPECT_EQ(f.edit->inputMask(), mask) << text;
    }
}
