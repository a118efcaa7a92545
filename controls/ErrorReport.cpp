#include "controls/ErrorReport.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <cstdio>
#include <string>
#include <utility>

#include "support/Errors.h"

namespace tallimer {

namespace {

ErrorReportHandler& CurrentHandler() {
    static ErrorReportHandler handler;
    return handler;
}

int queuedDepth = 0;
bool laterPending = false;
QPointer<QMessageBox> laterBox;

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
    if (queuedDepth > 0) {
        ReportExceptionLater(sender, error);
        return;
    }
    // A copy, so a handler that replaces itself while running stays alive to the end.
    ErrorReportHandler handler = CurrentHandler();
    if (handler) {
        handler(sender, error);
    } else {
        StandardErrorReport(sender, error);
    }
}

void ReportExceptionLater(QObject* sender, const std::exception& error) {
    if (laterPending || laterBox) return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        std::fprintf(stderr, "%s\n", error.what());
        return;
    }
    laterPending = true;
    QMetaObject::invokeMethod(
        app,
        [from = QPointer<QObject>(sender), message = std::string(error.what())] {
            laterPending = false;
            ErrorReportHandler handler = CurrentHandler();
            if (handler) {
                handler(from, Error(message));
                return;
            }
            const QString text = QString::fromStdString(message);
            if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
                std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
                return;
            }
            // Without a parent: the main window is usually hidden in the notification area.
            auto* box =
                new QMessageBox(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                                text, QMessageBox::Ok);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowModality(Qt::NonModal);
            laterBox = box;
            box->show();
        },
        Qt::QueuedConnection);
}

QueuedReports::QueuedReports() {
    ++queuedDepth;
}

QueuedReports::~QueuedReports() {
    --queuedDepth;
}

ErrorReportHandler SetErrorReportHandler(ErrorReportHandler handler) {
    return std::exchange(CurrentHandler(), std::move(handler));
}

}  // namespace tallimer
