#pragma once
// The main window's commands and fields and where they sit: the toolbar and the notification
// icon's menu; the "Connection" and "Total" boxes, the rate fields with their arrows and the
// rate picture, the status line, all under the toolbar.

namespace tallimer {

class TfPrinc;

// Creates the toolbar and the icon's menu, named as in the window's description, each command
// wired to its handler.
void BuildPrincCommands(TfPrinc& w);

// Creates the fields, named as in the window's description, and lays them out in the
// window's small type. The toolbar and the rate images exist already.
void LayOutPrinc(TfPrinc& w);

}  // namespace tallimer
