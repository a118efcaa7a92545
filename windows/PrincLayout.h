#pragma once
// The main window's commands and fields and where they sit: the toolbar, the notification
// area's icon and its menu; the "Connection" and "Total" boxes, the rate fields with their
// arrows and the rate picture, the status line, all under the toolbar.

class TrayShell;

namespace tallimer {

class TfPrinc;

// Creates the toolbar and the icon's menu, named as in the window's description, each command
// wired to its handler.
void BuildPrincCommands(TfPrinc& w);

// Creates the notification area's icon with the icon's menu, which is also the window's
// right-click menu while the desktop has no notification area. Raises the icon's error when the
// desktop refuses it.
void AttachTrayIcon(TfPrinc& w, TrayShell* shell);

// Creates the fields, named as in the window's description, and lays them out in the
// window's small type. The toolbar and the rate images exist already.
void LayOutPrinc(TfPrinc& w);

}  // namespace tallimer
