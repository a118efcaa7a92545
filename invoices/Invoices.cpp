#include "invoices/Invoices.h"

#include <climits>

#include "accounts/AccountFiles.h"
#include "support/Errors.h"
#include "support/FileWrite.h"
#include "support/NumberText.h"

namespace tallimer {

std::string InvoiceLineText(DateTime when, msTIME duration, float amount, const Locale& locale) {
    return "\t" + FormatStamp(when, locale) + "\t" + duration.ToText() + "\t" +
           InvoiceAmountText(amount, locale);
}

void AddInvoiceLine(InvoiceDocument& invoice, DateTime when, msTIME duration, float amount,
                    const Locale& locale) {
    invoice.appendParagraph(InvoiceLineText(when, duration, amount, locale));
}

std::string ArchivePath(const std::string& appFolder, const std::string& providerName,
                        DateTime billingDate, const Locale& locale) {
    // A name Linux cannot hold in a file name is escaped, and shortened when too long, as
    // the account files do it, so such an account can still close its periods.
    const std::string tail = " " + FormatShortDate(billingDate, locale) + ".rtf";
    return appFolder + "Factures/" + FileStem(providerName, NAME_MAX - tail.size()) + tail;
}

std::optional<std::size_t> ArchiveInvoice(const Account& account, const std::string& providerName,
                                          const std::string& appFolder, InvoiceDocument& invoice,
                                          const Locale& locale,
                                          const std::vector<std::size_t>& leftOut) {
    std::vector<std::string> totals = {
        "\n\nCoût total = " + InvoiceAmountText(account.periodCost, locale),
        "Durée totale = " + account.periodDuration.ToText()};
    if (account.packageEnabled)
        totals.push_back("Forfait restant = " + account.packageRemaining.ToText());
    CharAttributes bold;
    bold.bold = true;
    const std::string path = ArchivePath(appFolder, providerName, account.nextInvoice, locale);
    MakeFolder(appFolder + "Factures");
    // The file on disk is the invoice already: copied, it needs no document read or laid out.
    if (invoice.saveRtfAppended(path, totals, bold, leftOut)) return std::nullopt;
    const std::size_t paragraphs = invoice.paragraphCount();
    const CharAttributes attributes = invoice.appendAttributes();
    try {
        invoice.setAppendAttributes(bold);
        for (const std::string& text : totals) invoice.appendParagraph(text);
        if (leftOut.empty())
            invoice.saveRtf(path);
        else
            invoice.saveRtfWithout(path, leftOut);
    } catch (...) {
        invoice.truncateParagraphs(paragraphs);
        invoice.setAppendAttributes(attributes);
        throw;
    }
    return paragraphs;
}

void StartNewPeriod(Account& account, const std::string& appFolder, InvoiceDocument& invoice,
                    DateTime today) {
    account.periodDuration = 0;
    account.periodCost = 0;
    account.packageRemaining = account.packageDuration;
    account.packageCharged = false;
    account.nextInvoice = NextBillingDate(account.nextInvoice, account.periodMonths, today);
    try {
        invoice.loadRtf(appFolder + "base.rtf");
    } catch (...) {
        // The closed period is filed already; its lines must not reach the next invoice.
        invoice.truncateParagraphs(0);
        throw;
    }
}

void ClosePeriod(Account& account, const std::string& providerName, const std::string& appFolder,
                 InvoiceDocument& invoice, const Locale& locale, DateTime today) {
    ArchiveInvoice(account, providerName, appFolder, invoice, locale);
    StartNewPeriod(account, appFolder, invoice, today);
}

}  // namespace tallimer
