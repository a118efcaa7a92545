#pragma once
// Helpers for window tests: clipped captions and screenshots kept as build artefacts.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPixmap>
#include <QTest>
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

// What a screen reader says of the control, through Qt's accessibility interface.
inline QString Name(QWidget* control) {
    return QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
}

// What a screen reader says of the label given as the control's: on Linux a combo box is said
// by its item, and the label beside it comes through this relation.
inline QString LabelledBy(QWidget* control) {
    for (const auto& [label, relation] :
         QAccessible::queryAccessibleInterface(control)->relations(QAccessible::Label))
        return label->text(QAccessible::Name);
    return {};
}

// Shown and active, as the user has it in front of them.
inline void Activate(QWidget& window) {
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

// Where the Tab key goes from the window's first stop, once round.
inline QList<QWidget*> TabStops(QWidget& window) {
    QList<QWidget*> stops;
    if (QApplication::focusWidget()) stops << QApplication::focusWidget();
    for (int i = 0; i < 50; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window,
                        Qt::Key_Tab);
        if (stops.contains(QApplication::focusWidget())) break;
        stops << QApplication::focusWidget();
    }
    return stops;
}

// Each control the Tab key reaches is said by name, and each underlined letter is the
// window's only one and takes Alt to its control.
inline void ExpectNamedAndReachedByAlt(QWidget& window) {
    Activate(window);
    for (QWidget* stop : TabStops(window))
        EXPECT_FALSE(Name(stop).isEmpty()) << stop->metaObject()->className();
    QString letters;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const QString text = w->property("text").toString();
        const qsizetype at = text.indexOf('&');
        if (!w->isVisibleTo(&window) || at < 0 || at + 1 >= text.size()) continue;
        const QChar letter = text[at + 1].toLower();
        EXPECT_FALSE(letters.contains(letter)) << text.toStdString();
        letters += letter;
        auto* label = qobject_cast<QLabel*>(w);
        if (!label || !label->buddy()) continue;
        QTest::keyClick(&window, letter.toLatin1(), Qt::AltModifier);
        QWidget* reached =
            label->buddy()->focusProxy() ? label->buddy()->focusProxy() : label->buddy();
        EXPECT_EQ(QApplication::focusWidget(), reached) << text.toStdString();
    }
    EXPECT_FALSE(letters.isEmpty());
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
