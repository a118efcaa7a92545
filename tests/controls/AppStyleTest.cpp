#include <gtest/gtest.h>

#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QStyleFactory>
#include <QStyleOption>
#include <QVBoxLayout>
#include <memory>

#include "controls/AppStyle.h"

using tallimer::TAppStyle;

namespace {

// A group box as the main window has them, drawn in one style.
QImage GroupBoxIn(QStyle* style, const QString& title, bool checkable) {
    QGroupBox box(title);
    box.setStyle(style);
    box.setCheckable(checkable);
    auto* inside = new QVBoxLayout(&box);
    inside->addWidget(new QLabel("00:12:34"));
    box.resize(160, 70);
    return box.grab().toImage();
}

}  // namespace

TEST(AppStyle, DrawsWhatTheDesktopStyleDraws) {
    std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    TAppStyle mine(QStyleFactory::create("Fusion"));
    for (const char* title : {"Connection", ""})
        for (bool checkable : {false, true}) {
            SCOPED_TRACE(std::string(title) + (checkable ? " checkable" : ""));
            QImage expected = GroupBoxIn(fusion.get(), title, checkable);
            QImage drawn = GroupBoxIn(&mine, title, checkable);
            ASSERT_FALSE(expected.isNull());
            EXPECT_EQ(drawn, expected);
        }

    // The overflow button of a toolbar, read when it is painted.
    for (Qt::LayoutDirection direction : {Qt::LeftToRight, Qt::RightToLeft})
        for (auto which : {QStyle::SP_ToolBarHorizontalExtensionButton,
                           QStyle::SP_ToolBarVerticalExtensionButton}) {
            QStyleOption option;
            option.direction = direction;
            QIcon expected = fusion->standardIcon(which, &option);
            QIcon later = mine.standardIcon(which, &option);
            ASSERT_FALSE(expected.isNull());
            for (int size : {8, 16, 32}) {
                EXPECT_EQ(later.actualSize(QSize(size, size)),
                          expected.actualSize(QSize(size, size)));
                EXPECT_EQ(later.pixmap(size).toImage(), expected.pixmap(size).toImage());
            }
            EXPECT_EQ(later.availableSizes(), expected.availableSizes());
        }
}
