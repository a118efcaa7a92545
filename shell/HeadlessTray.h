#pragma once
// The notification area of a run without a display: it takes every request and shows
// nothing, so the meter still runs, counts and saves.
#include "controls/Trayicon.h"

namespace tallimer {

class HeadlessTray : public TrayShell {
  public:
    bool add(const QIcon&, const QString&) override { return true; }
    bool modify(const QIcon&, const QString&) override { return true; }
    bool remove() override { return true; }
    void popupMenu(QMenu*, QPoint) override {}
    QPoint cursorPos() const override { return {}; }
    Qt::KeyboardModifiers modifiers() const override { return {}; }
};

}  // namespace tallimer
