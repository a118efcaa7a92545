#pragma once
// The application object: an exception that leaves an event or timer handler is shown in
// the standard error box and the program goes on.
#include <QApplication>

class QTranslator;

namespace tallimer {

class TApplication : public QApplication {
    Q_OBJECT
  public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Qt's own texts (printer choice, edit menus, standard buttons) in French, as the rest of the
// program speaks. The translator belongs to the application; none when Qt's French texts are
// not installed.
QTranslator* InstallFrenchQtTexts(QCoreApplication& app);

// The program's name, as its windows and the desktop show it.
inline constexpr const char* kApplicationTitle = "Le Tallimer Internet";

}  // namespace tallimer
