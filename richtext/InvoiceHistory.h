#pragma once
// The history an existing user already has: the lines of the archived invoices (Factures/)
// and of the running invoice (temp.rtf), put into a new journal.
#include <cstddef>
#include <string>

#include "metering/Journal.h"

namespace tallimer {

// Imports every invoice line as a connection of its account: an archive's name gives its
// account, the running invoice's lines go to runningAccount. Rows already there are not
// added again; unreadable files are skipped. Gives how many rows were added.
std::size_t ImportInvoiceHistory(ConnectionJournal& journal, const std::string& appFolder,
                                 const std::string& runningAccount);

}  // namespace tallimer
