#pragma once
// The history an existing user already has: the lines of the archived invoices (Factures/)
// and of the running invoice (temp.rtf), put into a new journal.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "accounts/Comptes.h"
#include "metering/Journal.h"
#include "metering/JournalKeeper.h"

class QDeadlineTimer;

namespace tallimer {

class RtfParagraphReader;

struct ImportResult {
    std::size_t added = 0;
    std::size_t unrecognised = 0;  // lines that look like invoice lines but cannot be read
};

// Imports every invoice line as a connection of its account: an archive's name gives its
// account (a shortened one, the account it was cut from); the running invoice's lines go to the
// account RunningInvoiceAccount tells. Rows already there are not added again; unreadable files are
// skipped. The work is done a slice at a time, so the window and the meter answer between
// slices; the rows go in batches, the last of which marks the history as in. The files are
// listed and the running invoice read when it starts: lines written meanwhile are metered rows.
class HistoryImport {
  public:
    HistoryImport(ConnectionJournal& journal, const std::string& appFolder,
                  AccountCollection accounts, std::string current, DateTime today);
    ~HistoryImport();
    HistoryImport(const HistoryImport&) = delete;
    HistoryImport& operator=(const HistoryImport&) = delete;
    // Works on until the deadline; true once done (every row in, or a batch that failed: the
    // journal then keeps its history pending for the next start).
    bool step(const QDeadlineTimer& deadline);
    const ImportResult& result() const { return result_; }

  private:
    struct File {
        QString path;
        std::string account;   // an archive's; "" is the unnamed account's
        bool running = false;  // the running invoice, read twice
    };
    void paragraph(const QString& text);
    bool write(bool last);

    ConnectionJournal& journal_;
    AccountCollection accounts_;
    std::string current_;
    DateTime today_;
    std::vector<File> files_;
    std::size_t next_ = 0;   // the file being read
    QByteArray running_;     // the running invoice as it was when the import began
    bool spanning_ = false;  // the first reading of the running invoice: its span only
    RunningLinesSpan span_;
    std::string account_;  // the lines' account
    std::unique_ptr<RtfParagraphReader> reader_;
    std::vector<JournalRow> batch_;
    bool failed_ = false;
    bool done_ = false;
    ImportResult result_;
};

// The whole import at once.
ImportResult ImportInvoiceHistory(ConnectionJournal& journal, const std::string& appFolder,
                                  const AccountCollection& accounts, const std::string& current,
                                  DateTime today);

// "12 lignes non reconnues, ignorées."; empty when none.
std::string UnrecognisedLinesText(std::size_t count);

}  // namespace tallimer
