#include "controls/Trayicon.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QWindowStateChangeEvent>

#include "controls/RatePictures.h"
#include "support/Errors.h"

// ---- QtTrayShell ----

QtTrayShell::QtTrayShell() {
    QObject::connect(&tray_, &QSystemTrayIcon::activated, &tray_,
                     [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
}

bool QtTrayShell::add(const QIcon& icon, const QString& tip) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    tray_.setIcon(icon);
    shownIcon_ = icon.cacheKey();
    tray_.setToolTip(tip);
    tray_.show();
    return tray_.isVisible();
}

bool QtTrayShell::modify(const QIcon& icon, const QString& tip) {
    // Only the properties: an icon taken away at session end must not come back. The
    // display refresh asks every second; the desktop hears only of real changes.
    if (icon.cacheKey() != shownIcon_) {
        tray_.setIcon(icon);
        shownIcon_ = icon.cacheKey();
    }
    if (tip != tray_.toolTip()) tray_.setToolTip(tip);
    return tray_.isVisible();
}

bool QtTrayShell::remove() {
    tray_.hide();
    return true;
}

void PopUpMenu(QMenu* menu, QPoint at) {
    if (!menu) return;
    menu->popup(at);
    QAction* first = menu->defaultAction();
    for (QAction* action : menu->actions())
        if (!first && action->isVisible() && action->isEnabled() && !action->isSeparator())
            first = action;
    if (first) menu->setActiveAction(first);
}

void QtTrayShell::popupMenu(QMenu* menu, QPoint at) {
    // The menu grabs mouse and keyboard itself, so a click elsewhere closes it even while
    // none of our windows is active.
    PopUpMenu(menu, at);
}

bool QtTrayShell::available() const {
    // An XEmbed tray is looked for anew each time; a StatusNotifier host only if one was
    // there when the program started (Qt chooses the kind of icon once).
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QPoint QtTrayShell::cursorPos() const {
    return QCursor::pos();
}

Qt::KeyboardModifiers QtTrayShell::modifiers() const {
    return QGuiApplication::queryKeyboardModifiers();
}

void QtTrayShell::activated(QSystemTrayIcon::ActivationReason reason) {
    // Qt reports whole clicks; the dispatch wants the down and up of each, as the old shell
    // sent them (a double-click there was down, up, double-click, up).
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            notify(TrayMouse::LeftDown);
            notify(TrayMouse::LeftUp);
            break;
        case QSystemTrayIcon::DoubleClick:
            notify(TrayMouse::LeftDoubleClick);
            notify(TrayMouse::LeftUp);
            break;
        case QSystemTrayIcon::Context:
            notify(TrayMouse::RightDown);
            notify(TrayMouse::RightUp);
            break;
        case QSystemTrayIcon::MiddleClick:
            notify(TrayMouse::MiddleDown);
            notify(TrayMouse::MiddleUp);
            break;
        case QSystemTrayIcon::Unknown:
            break;
    }
}

// ---- TTrayIcon ----

TTrayIcon::TTrayIcon(QObject* owner, TrayShell* shell) : QObject(owner), shell_(shell) {
    if (!shell_) {
        ownedShell_ = std::make_unique<QtTrayShell>();
        shell_ = ownedShell_.get();
    }
    shell_->setSink([this](int message) { DoMessage(message); });
    icon_ = DefaultIcon();
    animateTimer_.setInterval(1000);
    connect(&animateTimer_, &QTimer::timeout, this, &TTrayIcon::DoOnAnimate);
    areaWatch_.setInterval(2000);
    connect(&areaWatch_, &QTimer::timeout, this, &TTrayIcon::WatchNotificationArea);
    Update();
}

TTrayIcon::~TTrayIcon() {
    installHook(false);
    shell_->setSink(nullptr);
    shell_->remove();
}

QIcon TTrayIcon::DefaultIcon() {
    QIcon icon = QGuiApplication::windowIcon();
    // A tray host shows nothing for an empty icon.
    return icon.isNull() ? AppIcon() : icon;
}

void TTrayIcon::SetVisible(bool value) {
    visible_ = value;
    areaWatch_.stop();
    if (value) {
        if (!shell_->available()) {
            inArea_ = false;
            areaWatch_.start();
            return;
        }
        if (!shell_->add(icon_, hint_))
            throw tallimer::Error("Cannot Create System Shell Notification Icon");
        inArea_ = true;
        hide_ = true;
        installHook(true);
    } else {
        if (!shell_->remove())
            throw tallimer::Error("Cannot Remove System Shell Notification Icon");
        inArea_ = false;
        hide_ = false;
        installHook(false);
    }
}

void TTrayIcon::WatchNotificationArea() {
    if (!visible_ || inArea_ || !shell_->available()) return;
    // An area that refuses us just after appearing (a panel still starting) gets asked again.
    if (!shell_->add(icon_, hint_)) return;
    areaWatch_.stop();
    inArea_ = true;
    hide_ = true;
    installHook(true);
    emit OnNotificationArea();
}

bool QtTrayShell::showMessage(const QString& title, const QString& text) {
    if (!tray_.isVisible()) return false;
    tray_.showMessage(title, text, QSystemTrayIcon::Information, 15000);
    return true;
}

bool TTrayIcon::ShowMessage(const QString& title, const QString& text) {
    if (inArea_ && shell_->showMessage(title, text)) return true;
    // No notification area: the freedesktop notification service, without waiting for it.
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                       "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    call << QString("Tallimer") << 0u << QString("tallimer") << title << text << QStringList()
         << QVariantMap() << 15000;
    return QDBusConnection::sessionBus().send(call);
}

void TTrayIcon::SetHint(const QString& hint) {
    if (hint == hint_ || hint.size() >= 64) return;
    hint_ = hint;
    Update();
}

void TTrayIcon::SetIconIndex(int index) {
    iconIndex_ = index;
    if (icons_) {
        // An index outside the list keeps the image shown rather than blanking the icon.
        QIcon image = icons_->icon(index);
        if (!image.isNull()) icon_ = image;
    }
    Update();
}

void TTrayIcon::SetDefaultIcon() {
    icon_ = DefaultIcon();
    Update();
}

void TTrayIcon::Update() {
    if (visible_ && !areaWatch_.isActive()) shell_->modify(icon_, hint_);
}

void TTrayIcon::SetAnimate(bool value) {
    if (!icons_ && !loading_) return;
    animate_ = value;
    if (icons_) {
        if (value)
            animateTimer_.start();
        else
            animateTimer_.stop();
    }
}

void TTrayIcon::SetAnimateInterval(int ms) {
    if (ms >= 0) animateTimer_.setInterval(ms);
}

void TTrayIcon::Loaded() {
    loading_ = false;
    if (!icons_) {
        animate_ = false;
        animateTimer_.stop();
        icon_ = DefaultIcon();
    } else {
        if (animate_)
            animateTimer_.start();
        else
            animateTimer_.stop();
        QIcon image = icons_->icon(iconIndex_);
        if (!image.isNull()) icon_ = image;
    }
    Update();
}

void TTrayIcon::DoOnAnimate() {
    // The list may have gone away while the timer ran.
    if (!icons_) return;
    int next = iconIndex_ + 1;
    if (next >= icons_->count()) next = 0;
    SetIconIndex(next);
    Update();
    emit OnAnimate();
}

void TTrayIcon::SetMainWindow(QWidget* window) {
    bool hooked = hooked_;
    installHook(false);
    mainWindow_ = window;
    if (hooked) installHook(true);
}

void TTrayIcon::installHook(bool on) {
    if (on == hooked_) return;
    hooked_ = on;
    if (!mainWindow_) return;
    if (on)
        mainWindow_->installEventFilter(this);
    else
        mainWindow_->removeEventFilter(this);
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    // While the icon is shown, minimizing the window sends it to the notification area.
    if (watched == mainWindow_ && event->type() == QEvent::WindowStateChange && !inWindowChange_ &&
        mainWindow_->isVisible()) {
        auto* change = static_cast<QWindowStateChangeEvent*>(event);
        bool wasMinimized = change->oldState() & Qt::WindowMinimized;
        bool isMinimized = mainWindow_->windowState() & Qt::WindowMinimized;
        if (!wasMinimized && isMinimized)
            Minimize();
        else if (wasMinimized && !isMinimized)
            Restore();
    }
    return false;
}

void TTrayIcon::Minimize() {
    if (QWidget* w = mainWindow_) {
        inWindowChange_ = true;
        // The state first: leaving the minimized state maps the window again on X11, so a
        // hide before it would leave the window manager's frame on screen with nothing in it.
        // Hidden, not iconified, a later plain show() brings back a normal window.
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
        w->hide();
        inWindowChange_ = false;
    }
    emit OnMinimize();
}

void TTrayIcon::Restore() {
    if (QWidget* w = mainWindow_) {
        inWindowChange_ = true;
        w->setWindowState((w->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        w->show();
        w->raise();
        w->activateWindow();
        inWindowChange_ = false;
    }
    emit OnRestore();
}

void TTrayIcon::ShowMenu() {
    if (!popupMenu_) return;
    // Under an open modal dialog the menu would offer "Quitter" behind the dialog's back:
    // the dialog comes to the front instead, so the user sees what waits for an answer.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->setWindowState(modal->windowState() & ~Qt::WindowMinimized);
        modal->show();
        modal->raise();
        modal->activateWindow();
        return;
    }
    shell_->popupMenu(popupMenu_, shell_->cursorPos());
}

void TTrayIcon::EndSession() {
    shell_->remove();
}

Qt::KeyboardModifiers TTrayIcon::shiftState() const {
    return shell_->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
}

void TTrayIcon::act(TTrayIconMessage step) {
    if (restoreOn_ == step) Restore();
    if (popupMenuOn_ == step) ShowMenu();
}

void TTrayIcon::DoMessage(int mouseMessage) {
    if (mouseMessage < TrayMouse::Move || mouseMessage > TrayMouse::MiddleDoubleClick) return;
    const Qt::KeyboardModifiers shift = shiftState();
    const QPoint at = shell_->cursorPos();
    switch (mouseMessage) {
        case TrayMouse::Move:
            DoMouseMove(shift, at.x(), at.y());
            break;
        case TrayMouse::LeftDown:
            DoMouseDown(Qt::LeftButton, shift, at.x(), at.y());
            break;
        case TrayMouse::LeftUp:
            DoClick();
            DoMouseUp(Qt::LeftButton, shift, at.x(), at.y());
            act(imLeftClickUp);
            break;
        case TrayMouse::LeftDoubleClick:
            DoDblClick();
            act(imLeftDoubleClick);
            break;
        case TrayMouse::RightDown:
            DoMouseDown(Qt::RightButton, shift, at.x(), at.y());
            break;
        case TrayMouse::RightUp:
            DoMouseUp(Qt::RightButton, shift, at.x(), at.y());
            act(imRightClickUp);
            break;
        case TrayMouse::RightDoubleClick:
            DoDblClick();
            act(imRightDoubleClick);
            break;
        case TrayMouse::MiddleDown:
            DoMouseDown(Qt::MiddleButton, shift, at.x(), at.y());
            break;
        case TrayMouse::MiddleUp:
            DoMouseUp(Qt::MiddleButton, shift, at.x(), at.y());
            break;
        case TrayMouse::MiddleDoubleClick:
            DoDblClick();
            break;
    }
}

void TTrayIcon::DoClick() {
    act(imClick);
    emit OnClick();
}

void TTrayIcon::DoDblClick() {
    act(imDoubleClick);
    emit OnDblClick();
}

void TTrayIcon::DoMouseMove(Qt::KeyboardModifiers shift, int x, int y) {
    emit OnMouseMove(shift, x, y);
}

void TTrayIcon::DoMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    act(imMouseDown);
    emit OnMouseDown(button, shift, x, y);
}

void TTrayIcon::DoMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    act(imMouseUp);
    emit OnMouseUp(button, shift, x, y);
}
