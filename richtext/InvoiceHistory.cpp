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

ImportResult ImportInvoiceHistory(ConnectionJournal& journal, const std::string& appFolder,
                                  const AccountCollection& accounts, const std::string& current,
                                  DateTime today) {
    ImportResult result;
    std::vector<JournalRow> rows;
    auto read = [&result](const std::vector<std::string>& paragraphs, const std::string& account) {
        std::vector<JournalRow> out;
        for (const std::string& paragraph : paragraphs) {
            if (auto row = RowOfInvoiceLine(paragraph, account))
                out.push_back(std::move(*row));
            else if (LooksLikeInvoiceLine(paragraph))
                ++result.unrecognised;
        }
        return out;
    };
    const QDir archives(QString::fromStdString(appFolder + "Factures"));
    // Sorted by name so that a second import sees the same rows in the same order.
    for (const QString& name : archives.entryList({"*.rtf"}, QDir::Files, QDir::Name)) {
        const std::optional<std::string> account =
            AccountOfArchiveName(name.toStdString(), &accounts);
        if (!account) continue;
        for (JournalRow& row : read(Paragraphs(archives.filePath(name)), *account))
            rows.push_back(std::move(row));
    }
    std::vector<JournalRow> running =
        read(Paragraphs(QString::fromStdString(appFolder + "temp.rtf")), {});
    const std::string account = RunningInvoiceAccount(accounts, current, running, today);
    for (JournalRow& row : running) {
        row.account = account;
        rows.push_back(std::move(row));
    }
    result.added = journal.importRows(rows);
    return result;
}

std::string UnrecognisedLinesText(std::size_t count) {
    if (count == 0) return {};
    return count == 1 ? "1 ligne non reconnue, ignorée."
                      : std::to_string(count) + " lignes non reconnues, ignorées.";
}

}  // namespace tallimer
