#pragma once
// The running invoice's lines and the closing of a billing period.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "accounts/Comptes.h"
#include "invoices/InvoiceDocument.h"
#include "support/Date.h"
#include "support/Locale.h"

namespace tallimer {

// tab, "dd mmm yy, hh:mm:ss", tab, hh:mm:ss, tab, the amount at precision 4.
std::string InvoiceLineText(DateTime when, msTIME duration, float amount, const Locale& locale);
void AddInvoiceLine(InvoiceDocument& invoice, DateTime when, msTIME duration, float amount,
                    const Locale& locale);

// appFolder + "Factures/" + provider name + " " + "dd mmm yy" of nextInvoice + ".rtf".
std::string ArchivePath(const std::string& appFolder, const std::string& providerName,
                        DateTime billingDate, const Locale& locale);

// Files the invoice with the period's totals in bold after it in "Factures" (created when
// missing), but the paragraphs left out (other accounts' lines, indices ascending). The
// totals are appended to the invoice when it cannot be filed from its file: then gives the
// paragraph count before them. Raises FileError::create when the archive cannot be written,
// the invoice left as it was.
std::optional<std::size_t> ArchiveInvoice(const Account& account, const std::string& providerName,
                                          const std::string& appFolder, InvoiceDocument& invoice,
                                          const Locale& locale,
                                          const std::vector<std::size_t>& leftOut = {});

// Zeroes the period, refills the package, moves the billing date on (NextBillingDate: by
// the period, or past today when far behind) and reloads the template "base.rtf". Raises
// FileError::open when the template cannot be read; the account is reset all the same and
// the running invoice is left empty.
void StartNewPeriod(Account& account, const std::string& appFolder, InvoiceDocument& invoice,
                    DateTime today);

// ArchiveInvoice then StartNewPeriod, all or nothing for the running invoice: when the
// archive cannot be written the totals are taken back out and the account is untouched.
void ClosePeriod(Account& account, const std::string& providerName, const std::string& appFolder,
                 InvoiceDocument& invoice, const Locale& locale, DateTime today);

}  // namespace tallimer
