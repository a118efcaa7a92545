#include "controls/ErrorReport.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <utility>

namespace tallimer {

namespace {

ErrorReportHandler& CurrentHandler() {
    static ErrorReportHandler handler;
    return handler;
}

bool CanShowBoxes() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

}  // namespace

void StandardErrorReport(QObject*, const std::exception& error) {
    const QString message = QString::fromUtf8(error.what());
    if (CanShowBoxes()) {
        QMessageBox::critical(QApplication::activeWindow(),
                              QGuiApplication::applicationDisplayName(), message);
    } else {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    }
}

void ReportException(QObject* sender, const std::exception& error) {
    // A copy, so a handler that replaces itself while running stays alive to the end.
    ErrorReportHandler handler = CurrentHandler();
    if (handler) {
        handler(sender, error);
    } else {
        StandardErrorReport(sender, error);
    }
}

ErrorReportHandler SetErrorReportHandler(ErrorReportHandler handler) {
    return std::exchange(CurrentHandler(), std::move(handler));
}

}  // namespace tallimer
