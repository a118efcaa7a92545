#include <gtest/gtest.h>

#include <QDialog>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <map>
#include <memory>
#include <set>

#include "controls/Trayicon.h"
#include "support/Errors.h"
#include "tests/common/qt/FakeTrayShell.h"

using tallimer::test::FakeTrayShell;

namespace {

QPixmap Solid(QColor color) {
    QPixmap p(32, 32);
    p.fill(color);
    return p;
}

QImage ImageOf(const QPixmap& p) {
    return p.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QString ButtonName(Qt::MouseButton b) {
    return b == Qt::LeftButton ? "L" : b == Qt::RightButton ? "R" : "M";
}

// Writes down, in order, what the icon did: its events, restores and menus.
struct Recorder {
    QStringList seen;
    FakeTrayShell& shell;
    size_t popupsSeen = 0;

    Recorder(TTrayIcon& icon, FakeTrayShell& s) : shell(s) {
        QObject::connect(&icon, &TTrayIcon::OnClick, [this] { note("click"); });
        QObject::connect(&icon, &TTrayIcon::OnDblClick, [this] { note("dbl"); });
        QObject::connect(&icon, &TTrayIcon::OnRestore, [this] { note("restore"); });
        QObject::connect(&icon, &TTrayIcon::OnMinimize, [this] { note("minimize"); });
        QObject::connect(&icon, &TTrayIcon::OnMouseMove,
                         [this](Qt::KeyboardModifiers, int, int) { note("move"); });
        QObject::connect(&icon, &TTrayIcon::OnMouseDown,
                         [this](Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
                             note("down " + ButtonName(b));
                         });
        QObject::connect(&icon, &TTrayIcon::OnMouseUp,
                         [this](Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
                             note("up " + ButtonName(b));
                         });
    }
    // Menus are requests to the shell; fold them into the sequence where they happened.
    void note(const QString& what) {
        catchUp();
        seen << what;
    }
    void catchUp() {
        for (; popupsSeen < shell.requests.size(); ++popupsSeen)
            if (shell.requests[popupsSeen].what == "popup") seen << "menu";
    }
    QStringList take() {
        catchUp();
        QStringList out = seen;
        seen.clear();
        return out;
    }
};

// The icon as the main window sets it up.
struct MainWindowIcon {
    FakeTrayShell shell;
    QWidget window;
    QMenu menu;
    TImageList list;
    std::unique_ptr<TTrayIcon> icon;

    MainWindowIcon() {
        for (QColor c : {Qt::black, Qt::red, Qt::green, Qt::cyan}) list.add(Solid(c));
        menu.addAction("&Restaurer");
        icon = std::make_unique<TTrayIcon>(nullptr, &shell);
        icon->SetVisible(true);
        icon->SetHint("Le tallimer internet");
        icon->SetPopupMenu(&menu);
        icon->SetRestoreOn(imNone);
        icon->SetPopupMenuOn(imRightClickUp);
        icon->SetIcons(&list);
        icon->SetMainWindow(&window);
        icon->Loaded();
    }
};

const int kMessages[] = {0x0200, 0x0201, 0x0202, 0x0203, 0x0204,
                         0x0205, 0x0206, 0x0207, 0x0208, 0x0209};

}  // namespace

TEST(TrayIcon, StartsHiddenWithItsDefaultsAndAsksNothingOfTheShell) {
    FakeTrayShell shell;
    TTrayIcon icon(nullptr, &shell);
    EXPECT_FALSE(icon.Visible());
    EXPECT_TRUE(icon.Hide());
    EXPECT_EQ(icon.Hint(), "");
    EXPECT_EQ(icon.IconIndex(), 0);
    EXPECT_EQ(icon.RestoreOn(), imDoubleClick);
    EXPECT_EQ(icon.PopupMenuOn(), imNone);
    EXPECT_FALSE(icon.Animate());
    EXPECT_EQ(icon.AnimateInterval(), 1000);
    EXPECT_FALSE(icon.CurrentIcon().isNull());
    EXPECT_TRUE(shell.requests.empty());
    EXPECT_EQ(imClick, 0);
    EXPECT_EQ(imNone, 8);
}

TEST(TrayIcon, MainWindowSetupShowsImageZeroWithItsHint) {
    MainWindowIcon m;
    ASSERT_GE(m.shell.requests.size(), 3u);
    EXPECT_EQ(m.shell.requests[0].what, "add");
    EXPECT_EQ(m.shell.requests[1].what, "modify");
    EXPECT_EQ(m.shell.requests[1].tip, "Le tallimer internet");
    EXPECT_EQ(m.shell.last().what, "modify");
    EXPECT_EQ(m.shell.last().image, ImageOf(m.list.pixmap(0)));
    EXPECT_TRUE(m.shell.shown);

    m.icon->SetIconIndex(3);
    EXPECT_EQ(m.shell.last().image, ImageOf(m.list.pixmap(3)));
    EXPECT_EQ(m.shell.last().tip, "Le tallimer internet");
}

TEST(TrayIcon, WithTheMainWindowSettingsOnlyARightButtonReleaseOpensTheMenu) {
    MainWindowIcon m;
    m.shell.keys = Qt::ShiftModifier | Qt::MetaModifier;
    QPoint where;
    Qt::KeyboardModifiers shift;
    QObject::connect(m.icon.get(), &TTrayIcon::OnMouseUp,
                     [&](Qt::MouseButton, Qt::KeyboardModifiers s, int x, int y) {
                         shift = s;
                         where = QPoint(x, y);
                     });
    Recorder r(*m.icon, m.shell);
    const std::map<int, QStringList> expected = {
        {0x0200, {"move"}}, {0x0201, {"down L"}}, {0x0202, {"click", "up L"}},
        {0x0203, {"dbl"}},  {0x0204, {"down R"}}, {0x0205, {"up R", "menu"}},
        {0x0206, {"dbl"}},  {0x0207, {"down M"}}, {0x0208, {"up M"}},
        {0x0209, {"dbl"}},  {0x01FF, {}},         {0x020A, {}},
        {0x0011, {}},       {0x0401, {}}};
    for (const auto& [message, steps] : expected) {
        m.shell.send(message);
        EXPECT_EQ(r.take(), steps) << std::hex << message;
        EXPECT_FALSE(m.window.isVisible()) << std::hex << message;
    }
    ASSERT_EQ(m.shell.count("popup"), 1);
    for (const auto& req : m.shell.requests)
        if (req.what == "popup") {
            EXPECT_EQ(req.menu, &m.menu);
            EXPECT_EQ(req.at, m.shell.cursor);
        }
    EXPECT_EQ(where, m.shell.cursor);
    EXPECT_EQ(shift, Qt::ShiftModifier);  // the keys that count: Shift, Ctrl, Alt
}

TEST(TrayIcon, UnderAModalDialogTheMenuGivesWayToTheDialog) {
    MainWindowIcon m;
    m.window.show();
    QDialog dialog(&m.window);
    dialog.setModal(true);
    dialog.show();
    dialog.showMinimized();  // out of sight, as behind another program's window
    QWidget other;
    other.show();
    other.activateWindow();
    m.shell.send(0x0204);
    m.shell.send(0x0205);
    // No "Quitter" behind the dialog's back: the dialog is brought back before the user.
    EXPECT_EQ(m.shell.count("popup"), 0);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.isMinimized());
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));

    dialog.accept();
    m.shell.send(0x0205);
    EXPECT_EQ(m.shell.count("popup"), 1);
}

TEST(TrayIcon, EachSettingReactsToItsOwnMouseActions) {
    const std::map<TTrayIconMessage, std::set<int>> reacts = {
        {imClick, {0x0202}},
        {imDoubleClick, {0x0203, 0x0206, 0x0209}},
        {imMouseDown, {0x0201, 0x0204, 0x0207}},
        {imMouseUp, {0x0202, 0x0205, 0x0208}},
        {imLeftClickUp, {0x0202}},
        {imLeftDoubleClick, {0x0203}},
        {imRightClickUp, {0x0205}},
        {imRightDoubleClick, {0x0206}},
        {imNone, {}}};
    for (const auto& [setting, messages] : reacts)
        for (int message : kMessages) {
            int expected = messages.count(message) ? 1 : 0;
            // Restoring...
            {
                FakeTrayShell shell;
                QWidget window;
                QMenu menu;
                TTrayIcon icon(nullptr, &shell);
                icon.SetMainWindow(&window);
                icon.SetPopupMenu(&menu);
                icon.SetRestoreOn(setting);
                int restores = 0;
                QObject::connect(&icon, &TTrayIcon::OnRestore, [&] { ++restores; });
                shell.send(message);
                EXPECT_EQ(restores, expected) << setting << " " << std::hex << message;
                EXPECT_EQ(window.isVisible(), expected == 1);
                EXPECT_EQ(shell.count("popup"), 0);
            }
            // ...and the menu, each on its own.
            {
                FakeTrayShell shell;
                QMenu menu;
                TTrayIcon icon(nullptr, &shell);
                icon.SetRestoreOn(imNone);
                icon.SetPopupMenu(&menu);
                icon.SetPopupMenuOn(setting);
                shell.send(message);
                EXPECT_EQ(shell.count("popup"), expected) << setting << " " << std::hex << message;
            }
        }
}

TEST(TrayIcon, WithinAStepRestoreComesBeforeTheMenuAndTheEventLast) {
    MainWindowIcon m;
    Recorder r(*m.icon, m.shell);
    m.icon->SetRestoreOn(imMouseUp);
    m.icon->SetPopupMenuOn(imMouseUp);
    m.shell.send(0x0205);
    EXPECT_EQ(r.take(), QStringList({"restore", "menu", "up R"}));

    // The left release runs the click step, the up step, then its own settings.
    m.icon->SetRestoreOn(imLeftClickUp);
    m.icon->SetPopupMenuOn(imClick);
    m.shell.send(0x0202);
    EXPECT_EQ(r.take(), QStringList({"menu", "click", "up L", "restore"}));

    m.icon->SetRestoreOn(imDoubleClick);
    m.icon->SetPopupMenuOn(imRightDoubleClick);
    m.shell.send(0x0206);
    EXPECT_EQ(r.take(), QStringList({"restore", "dbl", "menu"}));
}

TEST(TrayIcon, HintRules) {
    FakeTrayShell shell;
    TTrayIcon icon(nullptr, &shell);
    icon.SetVisible(true);
    const QString h63(63, QLatin1Char('a'));
    const QString h64(64, QLatin1Char('b'));

    size_t before = shell.requests.size();
    icon.SetHint(h63);
    EXPECT_EQ(icon.Hint(), h63);
    ASSERT_EQ(shell.requests.size(), before + 1);
    EXPECT_EQ(shell.last().what, "modify");
    EXPECT_EQ(shell.last().tip, h63);

    before = shell.requests.size();
    icon.SetHint(h64);
    icon.SetHint(h64 + "xyz");
    EXPECT_EQ(icon.Hint(), h63);
    icon.SetHint(h63);  // unchanged: nothing asked
    EXPECT_EQ(shell.requests.size(), before);

    // Accented text counts in characters, not bytes.
    const QString accented = QString("é").repeated(63);
    icon.SetHint(accented);
    EXPECT_EQ(icon.Hint(), accented);

    icon.SetHint("");
    EXPECT_EQ(icon.Hint(), "");
    EXPECT_EQ(shell.last().what, "modify");
    EXPECT_EQ(shell.last().tip, "");

    // Image changes still reach the shell without a tooltip.
    TImageList list;
    list.add(Solid(Qt::blue));
    list.add(Solid(Qt::yellow));
    icon.SetIcons(&list);
    icon.SetIconIndex(1);
    EXPECT_EQ(shell.last().what, "modify");
    EXPECT_EQ(shell.last().tip, "");
    EXPECT_EQ(shell.last().image, ImageOf(list.pixmap(1)));
}

TEST(TrayIcon, HiddenIconAsksNothingWhenItsHintOrImageChanges) {
    FakeTrayShell shell;
    TTrayIcon icon(nullptr, &shell);
    TImageList list;
    list.add(Solid(Qt::blue));
    icon.SetIcons(&list);
    icon.SetHint("Le tallimer internet");
    icon.SetIconIndex(0);
    EXPECT_TRUE(shell.requests.empty());
    // Shown later, it appears with both.
    icon.SetVisible(true);
    EXPECT_EQ(shell.requests.front().what, "add");
    EXPECT_EQ(shell.requests.front().tip, "Le tallimer internet");
    EXPECT_EQ(shell.requests.front().image, ImageOf(list.pixmap(0)));
}

TEST(TrayIcon, RefusedAddOrRemoveRaisesWithVisibleAlreadyChanged) {
    FakeTrayShell shell;
    QWidget window;
    TTrayIcon icon(nullptr, &shell);
    icon.SetMainWindow(&window);
    icon.SetHide(false);
    shell.refuseAdd = true;
    try {
        icon.SetVisible(true);
        FAIL() << "no error";
    } catch (const tallimer::Error& e) {
        EXPECT_STREQ(e.what(), "Cannot Create System Shell Notification Icon");
    }
    EXPECT_TRUE(icon.Visible());
    EXPECT_FALSE(icon.Hide());
    // No minimize hook either: minimizing leaves the window alone.
    window.show();
    window.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(window.isVisible());

    shell.refuseAdd = false;
    icon.SetVisible(true);
    EXPECT_TRUE(icon.Hide());
    shell.refuseRemove = true;
    try {
        icon.SetVisible(false);
        FAIL() << "no error";
    } catch (const tallimer::Error& e) {
        EXPECT_STREQ(e.what(), "Cannot Remove System Shell Notification Icon");
    }
    EXPECT_FALSE(icon.Visible());
    EXPECT_TRUE(icon.Hide());
    shell.refuseRemove = false;
    icon.SetVisible(false);
    EXPECT_FALSE(icon.Hide());
}

TEST(TrayIcon, RemovedListOrMenuAreForgotten) {
    MainWindowIcon m;
    m.icon->SetIconIndex(2);
    const QImage shown = ImageOf(m.list.pixmap(2));

    auto* list = new TImageList;
    list->add(Solid(Qt::magenta));
    m.icon->SetIcons(list);
    delete list;
    EXPECT_EQ(m.icon->Icons(), nullptr);
    size_t before = m.shell.requests.size();
    m.icon->SetIconIndex(1);  // only refreshes what is shown
    EXPECT_EQ(m.icon->IconIndex(), 1);
    ASSERT_EQ(m.shell.requests.size(), before + 1);
    EXPECT_EQ(m.shell.last().what, "modify");
    EXPECT_EQ(m.shell.last().image, shown);
    // Animation needs a list.
    m.icon->SetAnimate(true);
    EXPECT_FALSE(m.icon->Animate());
    m.icon->DoOnAnimate();
    EXPECT_EQ(m.icon->IconIndex(), 1);

    auto* menu = new QMenu;
    m.icon->SetPopupMenu(menu);
    delete menu;
    EXPECT_EQ(m.icon->PopupMenu(), nullptr);
    m.shell.send(0x0205);
    m.icon->ShowMenu();
    EXPECT_EQ(m.shell.count("popup"), 0);
}

TEST(TrayIcon, IndexOutsideTheListKeepsTheImage) {
    MainWindowIcon m;
    m.icon->SetIconIndex(1);
    m.icon->SetIconIndex(7);
    EXPECT_EQ(m.icon->IconIndex(), 7);
    EXPECT_EQ(m.shell.last().image, ImageOf(m.list.pixmap(1)));
    m.icon->SetIconIndex(-1);
    EXPECT_EQ(m.shell.last().image, ImageOf(m.list.pixmap(1)));
}

TEST(TrayIcon, AnimationCyclesThroughTheList) {
    FakeTrayShell shell;
    TImageList list;
    for (QColor c : {Qt::red, Qt::green, Qt::blue}) list.add(Solid(c));
    TTrayIcon icon(nullptr, &shell);
    icon.SetVisible(true);
    icon.SetIcons(&list);
    icon.SetAnimate(true);
    icon.SetAnimateInterval(250);
    EXPECT_EQ(icon.AnimateInterval(), 250);
    icon.Loaded();
    EXPECT_TRUE(icon.AnimationRunning());
    int events = 0;
    QObject::connect(&icon, &TTrayIcon::OnAnimate, [&] { ++events; });

    std::vector<int> indexes{icon.IconIndex()};
    for (int i = 0; i < 5; ++i) {
        icon.DoOnAnimate();
        indexes.push_back(icon.IconIndex());
        EXPECT_EQ(shell.last().image, ImageOf(list.pixmap(icon.IconIndex())));
    }
    EXPECT_EQ(indexes, std::vector<int>({0, 1, 2, 0, 1, 2}));
    EXPECT_EQ(events, 5);

    icon.SetAnimate(false);
    EXPECT_FALSE(icon.AnimationRunning());
}

TEST(TrayIcon, AnimateIsKeptOnlyWithAList) {
    FakeTrayShell shell;
    TTrayIcon icon(nullptr, &shell);
    icon.SetAnimate(true);  // while loading, remembered...
    EXPECT_TRUE(icon.Animate());
    icon.Loaded();  // ...and dropped for want of a list
    EXPECT_FALSE(icon.Animate());
    EXPECT_FALSE(icon.AnimationRunning());
    icon.SetAnimate(true);
    EXPECT_FALSE(icon.Animate());
}

TEST(TrayIcon, SessionEndRemovesTheIconButNotVisible) {
    MainWindowIcon m;
    m.icon->EndSession();
    EXPECT_EQ(m.shell.last().what, "remove");
    EXPECT_FALSE(m.shell.shown);
    EXPECT_TRUE(m.icon->Visible());
    // Later refreshes do not bring it back.
    m.icon->SetIconIndex(2);
    EXPECT_FALSE(m.shell.shown);
    EXPECT_EQ(m.shell.count("add"), 1);
}

TEST(TrayIcon, MinimizeHidesAndRestoreBringsBackTheWindow) {
    MainWindowIcon m;
    Recorder r(*m.icon, m.shell);
    m.window.show();
    m.icon->Minimize();
    EXPECT_FALSE(m.window.isVisible());
    EXPECT_EQ(r.take(), QStringList({"minimize"}));

    m.window.setWindowState(Qt::WindowMinimized);  // hidden: no hook
    EXPECT_EQ(r.take(), QStringList());
    m.icon->Restore();
    EXPECT_TRUE(m.window.isVisible());
    EXPECT_FALSE(m.window.isMinimized());
    EXPECT_EQ(r.take(), QStringList({"restore"}));

    // While the icon is shown, minimizing the window sends it to the notification area,
    // and a later plain show brings back a normal window.
    m.window.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(m.window.isVisible());
    EXPECT_EQ(r.take(), QStringList({"minimize"}));
    m.window.show();
    EXPECT_FALSE(m.window.isMinimized());
    EXPECT_EQ(r.take(), QStringList());

    m.icon->SetVisible(false);
    m.window.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(m.window.isVisible());
    EXPECT_EQ(r.take(), QStringList());
}

TEST(TrayIcon, WithoutAWindowMinimizeAndRestoreOnlyRaiseTheirEvents) {
    FakeTrayShell shell;
    TTrayIcon icon(nullptr, &shell);
    Recorder r(icon, shell);
    icon.Minimize();
    icon.Restore();
    EXPECT_EQ(r.take(), QStringList({"minimize", "restore"}));
    // A window that goes away is forgotten.
    auto* window = new QWidget;
    icon.SetMainWindow(window);
    delete window;
    EXPECT_EQ(icon.MainWindow(), nullptr);
    icon.Restore();
}

TEST(TrayIcon, DestructionRemovesTheIconAndStopsNotifications) {
    FakeTrayShell shell;
    QWidget window;
    {
        TTrayIcon icon(nullptr, &shell);
        icon.SetMainWindow(&window);
        icon.SetVisible(true);
    }
    EXPECT_EQ(shell.last().what, "remove");
    EXPECT_FALSE(shell.shown);
    shell.send(0x0205);  // nobody listens any more
    window.show();
    window.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(window.isVisible());
}

// The Qt source: activation reasons become the button notifications of the dispatch.
TEST(QtTrayShell, ActivationsDriveTheDispatchAndTheRealMenu) {
    QtTrayShell shell;
    QWidget window;
    QMenu menu;
    menu.setDefaultAction(menu.addAction("&Restaurer"));
    TTrayIcon icon(nullptr, &shell);
    icon.SetMainWindow(&window);
    icon.SetPopupMenu(&menu);
    icon.SetRestoreOn(imNone);
    icon.SetPopupMenuOn(imRightClickUp);
    QStringList seen;
    QObject::connect(&icon, &TTrayIcon::OnClick, [&] { seen << "click"; });
    QObject::connect(&icon, &TTrayIcon::OnDblClick, [&] { seen << "dbl"; });
    QObject::connect(&icon, &TTrayIcon::OnMouseDown,
                     [&](Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
                         seen << "down " + ButtonName(b);
                     });
    QObject::connect(
        &icon, &TTrayIcon::OnMouseUp,
        [&](Qt::MouseButton b, Qt::KeyboardModifiers, int, int) { seen << "up " + ButtonName(b); });

    emit shell.trayIcon().activated(QSystemTrayIcon::Trigger);
    emit shell.trayIcon().activated(QSystemTrayIcon::DoubleClick);
    emit shell.trayIcon().activated(QSystemTrayIcon::MiddleClick);
    emit shell.trayIcon().activated(QSystemTrayIcon::Unknown);
    EXPECT_EQ(seen,
              QStringList({"down L", "click", "up L", "dbl", "click", "up L", "down M", "up M"}));
    EXPECT_FALSE(menu.isVisible());
    EXPECT_FALSE(window.isVisible());

    seen.clear();
    emit shell.trayIcon().activated(QSystemTrayIcon::Context);
    EXPECT_EQ(seen, QStringList({"down R", "up R"}));
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(shell.trayIcon().contextMenu(), nullptr);  // we pop it, not Qt
    // Opened from the keyboard too: the first Return takes the default item.
    QSignalSpy restore(menu.defaultAction(), &QAction::triggered);
    QTest::keyClick(&menu, Qt::Key_Return);
    EXPECT_EQ(restore.count(), 1);
    menu.close();

    icon.SetRestoreOn(imLeftClickUp);
    emit shell.trayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window.isVisible());
}

TEST(QtTrayShell, WithoutANotificationAreaTheIconWaitsInsteadOfFailing) {
    TTrayIcon icon(nullptr);
    icon.SetHint("Le tallimer internet");
    EXPECT_NO_THROW(icon.SetVisible(true));
    EXPECT_TRUE(icon.Visible());
    EXPECT_EQ(icon.HasNotificationArea(), QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_NO_THROW(icon.SetVisible(false));
    EXPECT_FALSE(icon.HasNotificationArea());
}

// A desktop with no notification area (GNOME as installed): the window stays an ordinary
// window until an area appears, then the icon joins it with the picture and hint of the moment.
TEST(TrayIcon, WithoutANotificationAreaTheIconJoinsOneThatAppearsLater) {
    FakeTrayShell shell;
    shell.area = false;
    QWidget window;
    QMenu menu;
    TImageList list;
    for (QColor c : {Qt::black, Qt::red, Qt::green, Qt::cyan}) list.add(Solid(c));
    TTrayIcon icon(nullptr, &shell);
    Recorder r(icon, shell);
    int joined = 0;
    QObject::connect(&icon, &TTrayIcon::OnNotificationArea, [&] { ++joined; });
    icon.SetMainWindow(&window);
    icon.SetVisible(true);
    icon.SetHint("Le tallimer internet");
    icon.SetIcons(&list);
    icon.SetPopupMenu(&menu);
    icon.SetPopupMenuOn(imRightClickUp);
    icon.Loaded();
    icon.SetIconIndex(2);
    EXPECT_TRUE(icon.Visible());
    EXPECT_FALSE(icon.HasNotificationArea());
    EXPECT_TRUE(shell.requests.empty());
    // Minimizing is the window's own business: it goes to the taskbar, not away.
    window.show();
    window.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(window.isVisible());
    window.setWindowState(Qt::WindowNoState);
    icon.WatchNotificationArea();
    EXPECT_TRUE(shell.requests.empty());
    EXPECT_EQ(joined, 0);

    // The area appears but refuses at first (a panel still starting): asked again later.
    shell.area = true;
    shell.refuseAdd = true;
    EXPECT_NO_THROW(icon.WatchNotificationArea());
    EXPECT_FALSE(icon.HasNotificationArea());
    shell.refuseAdd = false;
    icon.WatchNotificationArea();
    EXPECT_TRUE(icon.HasNotificationArea());
    EXPECT_EQ(joined, 1);
    EXPECT_EQ(shell.count("add"), 2);
    EXPECT_EQ(shell.last().tip, "Le tallimer internet");
    EXPECT_EQ(shell.last().image, ImageOf(list.pixmap(2)));
    icon.WatchNotificationArea();
    EXPECT_EQ(shell.count("add"), 2);
    EXPECT_EQ(joined, 1);

    // From now on the usual rules: minimizing hides into the area, the menu opens.
    window.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(window.isVisible());
    shell.send(0x0205);
    EXPECT_EQ(r.take(), QStringList({"minimize", "up R", "menu"}));
}

namespace {

// The display refresh sets the icon every second: an unchanged picture must be recognisable
// as such, or the desktop redraws the icon each second.
TEST(TrayIcon, ThePictureOfAnIndexStaysTheSameIcon) {
    MainWindowIcon m;
    m.icon->SetIconIndex(2);
    const qint64 first = m.icon->CurrentIcon().cacheKey();
    m.icon->SetIconIndex(2);
    EXPECT_EQ(m.icon->CurrentIcon().cacheKey(), first);
    m.icon->SetIconIndex(3);
    EXPECT_NE(m.icon->CurrentIcon().cacheKey(), first);
    EXPECT_EQ(m.list.icon(3).cacheKey(), m.icon->CurrentIcon().cacheKey());
    m.list.clear();
    EXPECT_TRUE(m.list.icon(0).isNull());
}

}  // namespace
