#include "richtext/InvoiceHistory.h"

#include <QDir>
#include <QTextBlock>
#include <QTextDocument>
#include <exception>
#include <vector>

#include "metering/JournalKeeper.h"
#include "richtext/RichInvoice.h"

namespace tallimer {

namespace {

std::vector<std::string> Paragraphs(const QString& path) {
    std::vector<std::string> paragraphs;
    QTextDocument doc;
    try {
        LoadRtfFile(doc, path);
    } catch (const std::exception&) {
        return paragraphs;
    }
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        paragraphs.push_back(block.text().toStdString());
    return paragraphs;
}

}  // namespace

std::size_t ImportInvoiceHistory(ConnectionJournal& journal, const std::string& appFolder,
                                 const std::string& runningAccount) {
    std::vector<JournalRow> rows;
    const QDir archives(QString::fromStdString(appFolder + "Factures"));
    // Sorted by name so that a second import sees the same rows in the same order.
    for (const QString& name : archives.entryList({"*.rtf"}, QDir::Files, QDir::Name)) {
        const std::optional<std::string> account = AccountOfArchiveName(name.toStdString());
        if (!account) continue;
        for (JournalRow& row : RowsOfInvoice(Paragraphs(archives.filePath(name)), *account))
            rows.push_back(std::move(row));
    }
    for (JournalRow& row :
         RowsOfInvoice(Paragraphs(QString::fromStdString(appFolder + "temp.rtf")), runningAccount))
        rows.push_back(std::move(row));
    return journal.importRows(rows);
}

}  // namespace tallimer
