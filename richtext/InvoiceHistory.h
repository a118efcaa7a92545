#pragma once
// The history an existing user already has: the lines of the archived invoices (Factures/)
// and of the running invoice (temp.rtf), put into a new journal.
#include <cstddef>
#include <string>

#include "accounts/Comptes.h"
#include "metering/Journal.h"

namespace tallimer {

struct ImportResult {
    std::size_t added = 0;
    std::size_t unrecognised = 0;  // lines that look like invoice lines but cannot be read
};

// Imports every invoice line as a connection of its account: an archive's name gives its
// account (a shortened one, the account it was cut from); the running invoice's lines go to the
// account RunningInvoiceAccount tells. Rows already there are not added again; unreadable files are
// skipped.
ImportResult ImportInvoiceHistory(ConnectionJournal& journal, const std::string& appFolder,
                                  const AccountCollection& accounts, const std::string& current,
                                  DateTime today);

// "12 lignes non reconnues, ignorées."; empty when none.
std::string UnrecognisedLinesText(std::size_t count);

}  // namespace tallimer
