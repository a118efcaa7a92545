#pragma once
// The application's standard error report: an exception that leaves an event or timer
// handler is shown to the user and the program goes on.
#include <exception>
#include <functional>

class QObject;

namespace tallimer {

using ErrorReportHandler = std::function<void(QObject* sender, const std::exception& error)>;

// Hands the error to the current report.
void ReportException(QObject* sender, const std::exception& error);

// Replaces the report and returns the one it replaces; an empty handler restores the
// standard one. Tests capture reports this way.
ErrorReportHandler SetErrorReportHandler(ErrorReportHandler handler);

// The standard report: an error box with the message when there is a screen to show it on,
// the standard error stream otherwise (offscreen runs, no widgets).
void StandardErrorReport(QObject* sender, const std::exception& error);

}  // namespace tallimer
