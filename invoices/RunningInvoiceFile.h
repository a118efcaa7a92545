#pragma once
// The running invoice kept in step with its file "temp.rtf": every change the program makes
// (a line appended, a period closed) is written at once, so a crash loses none of it.
#include <exception>
#include <functional>
#include <string>

#include "accounts/Comptes.h"
#include "invoices/InvoiceDocument.h"
#include "support/Date.h"
#include "support/Locale.h"
#include "timevalues/Time.h"

namespace tallimer {

class RunningInvoiceFile {
  public:
    // Receives the errors of writing "temp.rtf" that happen after a change already made.
    using Report = std::function<void(const std::exception&)>;

    RunningInvoiceFile(InvoiceDocument& document, std::string appFolder, Locale locale,
                       Report report);

    InvoiceDocument& document() { return document_; }
    const std::string& appFolder() const { return appFolder_; }
    std::string path() const { return appFolder_ + "temp.rtf"; }

    // Appends the line and writes the file. A write that fails is reported; the line stays.
    void AddLine(DateTime when, msTIME duration, float amount);
    // Closes the account's period (all or nothing for the invoice) and writes the file. The
    // closing's own error is raised after the write; a failed write is reported.
    void ClosePeriod(Account& account, const std::string& providerName, DateTime today);

    // Writes the file atomically; raises FileError::create.
    void Save();
    // Writes the file; a failure is reported and gives false.
    bool SaveReporting();

  private:
    InvoiceDocument& document_;
    std::string appFolder_;
    Locale locale_;
    Report report_;
};

}  // namespace tallimer
