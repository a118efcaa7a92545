#include "windows/FNPropos.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <vector>

#include "controls/LinkLabel.h"
#include "tests/common/qt/DialogChecks.h"
#include "windows/ProjectInfo.h"

using tallimer::TAboutBox;

namespace {

TEST(AboutBox, ShowsTheProgramAndItsAddresses) {
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), "A propos");
    EXPECT_EQ(box.ProductName->text(), "Le Tallimer Internet");
    EXPECT_TRUE(box.ProductName->font().bold());
    EXPECT_EQ(box.Version->text(), "Version 6.0");
    EXPECT_FALSE(box.Copyright->text().isEmpty());
    // The project has no public site: no web link, rather than a placeholder.
    EXPECT_TRUE(box.Comments->isHidden());
    EXPECT_EQ(box.Label1->text(), tallimer::kProjectMailAddress);
    EXPECT_FALSE(box.ProgramIcon->pixmap().isNull());
    for (QLabel* link : {static_cast<QLabel*>(box.Comments), static_cast<QLabel*>(box.Label1)}) {
        EXPECT_TRUE(link->font().underline());
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    }
    EXPECT_EQ(box.OKButton->text(), "OK");
    EXPECT_TRUE(box.OKButton->isDefault());
}

TEST(AboutBox, LinksOpenWhatTheLabelsShow) {
    TAboutBox box;
    std::vector<QUrl> opened;
    box.openUrl = [&](const QUrl& u) { opened.push_back(u); };
    box.show();
    // A real click on each label, then whatever the labels were changed to.
    box.CommentsClick();  // no site: nothing opens
    QTest::mouseClick(box.Label1, Qt::LeftButton);
    QTest::mouseClick(box.Label1, Qt::RightButton);
    box.Comments->setText("http://autre.example.org/page");
    box.Label1->setText("autre@example.org");
    box.CommentsClick();
    box.Label1Click();
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0].toString(), QString("mailto:") + tallimer::kProjectMailAddress);
    EXPECT_EQ(opened[1], QUrl("http://autre.example.org/page"));
    EXPECT_EQ(opened[2].toString(), "mailto:autre@example.org");
}

TEST(AboutBox, OkClosesWithOk) {
    TAboutBox box;
    QTimer::singleShot(0, &box, [&] { box.OKButton->click(); });
    EXPECT_EQ(box.exec(), QDialog::Accepted);
}

TEST(AboutBox, LaidOutWithoutClippingAndPictured) {
    TAboutBox box;
    tallimer::test::ExpectNoClippedCaption(box);
    tallimer::test::SaveScreenshot(box, "about-box");
}

}  // namespace
