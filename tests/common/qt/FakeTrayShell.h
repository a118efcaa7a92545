#pragma once
// A notification area that records what is asked of it and delivers mouse notifications on
// demand. Header only, for any Qt test that builds a TTrayIcon.
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPoint>
#include <QString>
#include <vector>

#include "controls/Trayicon.h"

namespace tallimer::test {

class FakeTrayShell : public TrayShell {
  public:
    struct Request {
        QString what;  // "add", "modify", "remove", "popup"
        QString tip;
        QImage image;
        QMenu* menu = nullptr;
        QPoint at;
    };
    std::vector<Request> requests;
    bool refuseAdd = false;
    bool refuseRemove = false;
    bool shown = false;  // the icon is in the notification area
    bool area = true;    // the desktop has a notification area
    QPoint cursor{612, 745};
    Qt::KeyboardModifiers keys = Qt::NoModifier;

    bool add(const QIcon& icon, const QString& tip) override {
        requests.push_back({"add", tip, Image(icon), nullptr, {}});
        if (refuseAdd) return false;
        shown = true;
        return true;
    }
    bool modify(const QIcon& icon, const QString& tip) override {
        requests.push_back({"modify", tip, Image(icon), nullptr, {}});
        return shown;
    }
    bool remove() override {
        requests.push_back({"remove", {}, {}, nullptr, {}});
        if (refuseRemove) return false;
        shown = false;
        return true;
    }
    void popupMenu(QMenu* menu, QPoint at) override {
        requests.push_back({"popup", {}, {}, menu, at});
    }
    QPoint cursorPos() const override { return cursor; }
    Qt::KeyboardModifiers modifiers() const override { return keys; }
    bool available() const override { return area; }
    std::vector<QString> messages;  // "title: text" of each notification shown
    bool showMessage(const QString& title, const QString& text) override {
        if (!shown) return false;
        messages.push_back(title + ": " + text);
        return true;
    }

    // A mouse notification from the desktop.
    void send(int mouseMessage) { notify(mouseMessage); }

    int count(const QString& what) const {
        int n = 0;
        for (const Request& r : requests) n += r.what == what;
        return n;
    }
    const Request& last() const { return requests.back(); }

    static QImage Image(const QIcon& icon) {
        return icon.isNull() ? QImage()
                             : icon.pixmap(32, 32).toImage().convertToFormat(
                                   QImage::Format_ARGB32_Premultiplied);
    }
};

}  // namespace tallimer::test
