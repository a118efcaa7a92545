#pragma once
// The application object: an exception that leaves an event or timer handler is shown in
// the standard error box and the program goes on.
#include <QApplication>

namespace tallimer {

class TApplication : public QApplication {
    Q_OBJECT
  public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The program's name, as its windows and the desktop show it.
inline constexpr const char* kApplicationTitle = "Le Tallimer Internet";

}  // namespace tallimer
