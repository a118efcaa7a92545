#include "shell/Application.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTranslator>

using namespace tallimer;

namespace {

// The printer choice and the standard buttons come from Qt: they must not show English
// in the middle of a French program.
TEST(QtTexts, QtsOwnDialogsSpeakFrench) {
    QTranslator* translator = InstallFrenchQtTexts(*QCoreApplication::instance());
    ASSERT_NE(translator, nullptr) << "Qt's French texts (qt6-translations-l10n) are missing";
    EXPECT_EQ(QCoreApplication::translate("QPrintDialog", "Print"), "Imprimer");
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text().remove('&'), "Annuler");
    QCoreApplication::removeTranslator(translator);
    delete translator;
    EXPECT_EQ(QCoreApplication::translate("QPrintDialog", "Print"), "Print");
}

}  // namespace
