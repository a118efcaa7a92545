#pragma once
// Printing an invoice: the whole document, page after page, as one job.
class QPrinter;
class QTextDocument;

namespace tallimer {

inline constexpr char kPrintJobTitle[] = "Facture Internet";

// Prints doc on printer as one job titled "Facture Internet". False when the printer failed.
bool PrintDocument(const QTextDocument& doc, QPrinter& printer);

}  // namespace tallimer
