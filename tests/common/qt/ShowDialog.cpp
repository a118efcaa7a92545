// Shows one of the program's small dialogs on the display, as the program would, until it is
// closed: for pictures of them under a real window manager.
// Usage: show_dialog prix|confirmation
#include <QApplication>
#include <QLocale>
#include <cstring>

#include "windows/FNConfirme.h"
#include "windows/FNModifPrix.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    if (argc == 2 && std::strcmp(argv[1], "prix") == 0) {
        tallimer::TfModifPrix dialog;
        dialog.Prix = 123.456f;
        return dialog.exec() == QDialog::Accepted ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "confirmation") == 0) {
        tallimer::TfConfirm dialog;
        return dialog.exec() == QDialog::Accepted ? 0 : 1;
    }
    return 2;
}
