#pragma once
// TTrayIcon: the program's icon in the desktop's notification area, with tooltip, image from an
// image list, popup menu and the mouse actions that restore the window or open the menu.
// The desktop is reached through TrayShell, so the rules are tested with a fake shell.
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "controls/ImageList.h"

// Which mouse action restores the window or shows the menu.
enum TTrayIconMessage {
    imClick,
    imDoubleClick,
    imMouseDown,
    imMouseUp,
    imLeftClickUp,
    imLeftDoubleClick,
    imRightClickUp,
    imRightDoubleClick,
    imNone
};

// Mouse notifications about the icon, numbered as the old shell numbered them; both the Qt
// source and the test shell feed these to TTrayIcon::DoMessage.
namespace TrayMouse {
constexpr int Move = 0x0200;
constexpr int LeftDown = 0x0201;
constexpr int LeftUp = 0x0202;
constexpr int LeftDoubleClick = 0x0203;
constexpr int RightDown = 0x0204;
constexpr int RightUp = 0x0205;
constexpr int RightDoubleClick = 0x0206;
constexpr int MiddleDown = 0x0207;
constexpr int MiddleUp = 0x0208;
constexpr int MiddleDoubleClick = 0x0209;
}  // namespace TrayMouse

// What the component needs from the desktop.
class TrayShell {
  public:
    using Sink = std::function<void(int mouseMessage)>;

    virtual ~TrayShell() = default;
    virtual bool add(const QIcon& icon, const QString& tip) = 0;
    virtual bool modify(const QIcon& icon, const QString& tip) = 0;
    virtual bool remove() = 0;
    virtual void popupMenu(QMenu* menu, QPoint at) = 0;
    virtual QPoint cursorPos() const = 0;
    virtual Qt::KeyboardModifiers modifiers() const = 0;
    // Whether the desktop has a notification area at all right now.
    virtual bool available() const { return true; }
    // A desktop notification beside the icon; false when it could not be shown there.
    virtual bool showMessage(const QString& /*title*/, const QString& /*text*/) { return false; }

    // Where the shell delivers mouse notifications; empty to stop delivering.
    void setSink(Sink sink) { sink_ = std::move(sink); }

  protected:
    void notify(int mouseMessage) {
        if (sink_) sink_(mouseMessage);
    }

  private:
    Sink sink_;
};

// Pops the menu up at `at` with its default item (else its first) highlighted, so that Return
// acts at once when it was opened from the keyboard.
void PopUpMenu(QMenu* menu, QPoint at);

// The real desktop: QSystemTrayIcon (XEmbed tray or StatusNotifier host).
class QtTrayShell : public TrayShell {
  public:
    QtTrayShell();
    bool add(const QIcon& icon, const QString& tip) override;
    bool modify(const QIcon& icon, const QString& tip) override;
    bool remove() override;
    void popupMenu(QMenu* menu, QPoint at) override;
    QPoint cursorPos() const override;
    Qt::KeyboardModifiers modifiers() const override;
    bool available() const override;
    bool showMessage(const QString& title, const QString& text) override;

    // Turns Qt's activation reasons into the button notifications of the old shell.
    void activated(QSystemTrayIcon::ActivationReason reason);
    QSystemTrayIcon& trayIcon() { return tray_; }

  private:
    QSystemTrayIcon tray_;
    qint64 shownIcon_ = 0;  // cache key of the icon the desktop has
};

class TTrayIcon : public QObject {
    Q_OBJECT

  public:
    // shell: not owned; nullptr gives a QtTrayShell owned by the component.
    explicit TTrayIcon(QObject* owner, TrayShell* shell = nullptr);
    ~TTrayIcon() override;

    // Raises tallimer::Error when the shell refuses; Visible keeps the new value all the same.
    // A desktop with no notification area at all refuses nothing: the icon waits for one
    // and joins it when it appears (OnNotificationArea).
    void SetVisible(bool value);
    bool Visible() const { return visible_; }
    // The icon is in a notification area; without one the window is an ordinary window.
    bool HasNotificationArea() const { return inArea_; }
    // One look for a notification area while waiting for one; a timer calls it.
    void WatchNotificationArea();
    // A non-modal desktop notification: the icon's message in a notification area, else the
    // desktop's notification service. False when neither took it.
    bool ShowMessage(const QString& title, const QString& text);
    void SetHint(const QString& hint);
    QString Hint() const { return hint_; }
    void SetHide(bool value) { hide_ = value; }
    bool Hide() const { return hide_; }

    void SetIcons(TImageList* icons) { icons_ = icons; }  // not owned
    TImageList* Icons() const { return icons_; }
    void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }  // not owned
    QMenu* PopupMenu() const { return popupMenu_; }
    void SetRestoreOn(TTrayIconMessage m) { restoreOn_ = m; }
    TTrayIconMessage RestoreOn() const { return restoreOn_; }
    void SetPopupMenuOn(TTrayIconMessage m) { popupMenuOn_ = m; }
    TTrayIconMessage PopupMenuOn() const { return popupMenuOn_; }

    void SetIconIndex(int index);
    int IconIndex() const { return iconIndex_; }
    QIcon CurrentIcon() const { return icon_; }
    void SetDefaultIcon();

    void SetAnimate(bool value);
    bool Animate() const { return animate_; }
    void SetAnimateInterval(int ms);
    int AnimateInterval() const { return animateTimer_.interval(); }
    bool AnimationRunning() const { return animateTimer_.isActive(); }

    // The window that Minimize hides and Restore brings back (not owned).
    void SetMainWindow(QWidget* window);
    QWidget* MainWindow() const { return mainWindow_; }

    // Call once the properties are set: takes the image of IconIndex and starts the animation.
    void Loaded();
    void Minimize();
    void Restore();
    void ShowMenu();
    void Update();
    // Session end: the icon leaves the notification area, Visible is left as it is.
    void EndSession();
    // One mouse notification (TrayMouse numbers); other numbers are ignored.
    void DoMessage(int mouseMessage);
    // One step of the animation; the animation timer calls it.
    void DoOnAnimate();

    static QIcon DefaultIcon();

  signals:
    void OnMinimize();
    void OnRestore();
    void OnClick();
    void OnDblClick();
    void OnMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnAnimate();
    // A notification area appeared and the icon is in it.
    void OnNotificationArea();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    virtual void DoClick();
    virtual void DoDblClick();
    virtual void DoMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    virtual void DoMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void DoMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

  private:
    void act(TTrayIconMessage step);
    void installHook(bool on);
    Qt::KeyboardModifiers shiftState() const;

    std::unique_ptr<TrayShell> ownedShell_;
    TrayShell* shell_;
    QIcon icon_;
    QPointer<TImageList> icons_;
    QPointer<QMenu> popupMenu_;
    QPointer<QWidget> mainWindow_;
    QTimer animateTimer_;
    QTimer areaWatch_;
    QString hint_;
    int iconIndex_ = 0;
    bool visible_ = false;
    bool inArea_ = false;
    bool hide_ = true;
    bool animate_ = false;
    bool loading_ = true;
    bool hooked_ = false;
    bool inWindowChange_ = false;
    TTrayIconMessage restoreOn_ = imDoubleClick;
    TTrayIconMessage popupMenuOn_ = imNone;
};

namespace tallimer {
using ::QtTrayShell;
using ::TrayShell;
using ::TTrayIcon;
using ::TTrayIconMessage;
}  // namespace tallimer
