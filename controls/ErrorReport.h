#pragma once
// The application's standard error report: an exception that leaves an event or timer
// handler is shown to the user and the program goes on.
#include <exception>
#include <functional>

class QObject;

namespace tallimer {

using ErrorReportHandler = std::function<void(QObject* sender, const std::exception& error)>;

// Hands the error to the current report, or to ReportExceptionLater while reports are
// queued.
void ReportException(QObject* sender, const std::exception& error);

// Hands the error to the current report from the event loop, once the running handler has
// returned; the standard report is then a box that is not modal. While such a report waits or
// its box is open, further ones add nothing. For code that must never block: the metering tick
// runs every second, and the program lives hidden in the notification area.
void ReportExceptionLater(QObject* sender, const std::exception& error);

// While one lives, every report is queued as by ReportExceptionLater.
class QueuedReports {
  public:
    QueuedReports();
    ~QueuedReports();
    QueuedReports(const QueuedReports&) = delete;
    QueuedReports& operator=(const QueuedReports&) = delete;
};

// Replaces the report and returns the one it replaces; an empty handler restores the
// standard one. Tests capture reports this way.
ErrorReportHandler SetErrorReportHandler(ErrorReportHandler handler);

// The standard report: an error box with the message when there is a screen to show it on,
// the standard error stream otherwise (offscreen runs, no widgets).
void StandardErrorReport(QObject* sender, const std::exception& error);

}  // namespace tallimer
