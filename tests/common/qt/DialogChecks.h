#pragma once
// Helpers for window tests: clipped captions and screenshots kept as build artefacts.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>

// Texts as people read them in a failure's message.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace tallimer::test {

// Every caption of the window (labels, buttons, check boxes, radio buttons) gets at least
// the room its text asks for, once the window is laid out.
inline void ExpectNoClippedCaption(QWidget& window) {
    window.show();
    if (window.layout()) window.layout()->activate();
    for (QLabel* l : window.findChildren<QLabel*>()) {
        if (!l->isVisibleTo(&window) || l->text().isEmpty()) continue;
        EXPECT_GE(l->width(), l->sizeHint().width()) << l->text().toStdString();
        EXPECT_GE(l->height(), l->sizeHint().height()) << l->text().toStdString();
    }
    for (QAbstractButton* b : window.findChildren<QAbstractButton*>()) {
        if (!b->isVisibleTo(&window) || b->text().isEmpty()) continue;
        EXPECT_GE(b->width(), b->sizeHint().width()) << b->text().toStdString();
    }
}

// Saves a picture as TALLIMER_BUILD_DIR/artefacts/<name>.png.
inline void SavePicture(const QPixmap& shot, const QString& name) {
    const char* build = std::getenv("TALLIMER_BUILD_DIR");
    if (!build) return;
    QDir dir(QString::fromLocal8Bit(build));
    ASSERT_TRUE(dir.mkpath("artefacts"));
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(dir.filePath("artefacts/" + name + ".png")));
}

// Saves a picture of the window as TALLIMER_BUILD_DIR/artefacts/<name>.png.
inline void SaveScreenshot(QWidget& window, const QString& name) {
    window.adjustSize();
    SavePicture(window.grab(), name);
}

// The window and, below it, a second one (a message about it) in one picture.
inline void SaveScreenshots(QWidget& window, QWidget& below, const QString& name) {
    const QPixmap top = window.grab();
    below.adjustSize();
    const QPixmap bottom = below.grab();
    QPixmap both(std::max(top.width(), bottom.width()), top.height() + bottom.height() + 8);
    both.fill(Qt::darkGray);
    QPainter painter(&both);
    painter.drawPixmap(0, 0, top);
    painter.drawPixmap(0, top.height() + 8, bottom);
    painter.end();
    SavePicture(both, name);
}

}  // namespace tallimer::test
