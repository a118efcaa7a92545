#include "shell/Application.h"

#include "controls/ErrorReport.h"
#include "support/Errors.h"

namespace tallimer {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ReportException(receiver, error);
    } catch (...) {
        ReportException(receiver, Error("Exception inconnue"));
    }
    return false;
}

}  // namespace tallimer
