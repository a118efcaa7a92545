#include "invoices/RunningInvoiceFile.h"

#include <utility>

#include "invoices/Invoices.h"

namespace tallimer {

RunningInvoiceFile::RunningInvoiceFile(InvoiceDocument& document, std::string appFolder,
                                       Locale locale, Report report)
    : document_(document),
      appFolder_(std::move(appFolder)),
      locale_(std::move(locale)),
      report_(std::move(report)) {}

void RunningInvoiceFile::AddLine(DateTime when, msTIME duration, float amount) {
    AddInvoiceLine(document_, when, duration, amount, locale_);
    SaveReporting();
}

void RunningInvoiceFile::ClosePeriod(Account& account, const std::string& providerName,
                                     DateTime today) {
    std::exception_ptr closingError;
    try {
        tallimer::ClosePeriod(account, providerName, appFolder_, document_, locale_, today);
    } catch (...) {
        closingError = std::current_exception();
    }
    // Even a half-done closing (archive filed, template unreadable) changed the invoice.
    SaveReporting();
    if (closingError) std::rethrow_exception(closingError);
}

void RunningInvoiceFile::Save() {
    document_.saveRtf(path());
}

bool RunningInvoiceFile::SaveReporting() {
    try {
        Save();
        return true;
    } catch (const std::exception& e) {
        if (report_) report_(e);
        return false;
    }
}

}  // namespace tallimer
