#include "shell/Application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

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

QTranslator* InstallFrenchQtTexts(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::French, QLocale::France), "qtbase", "_",
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

}  // namespace tallimer
