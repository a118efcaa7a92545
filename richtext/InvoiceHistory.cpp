#include "richtext/InvoiceHistory.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <utility>

#include "richtext/RtfReader.h"

namespace tallimer {

namespace {

// Rows a transaction: a few milliseconds of writing between two looks at the deadline.
constexpr std::size_t kBatchRows = 2000;

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes = file.readAll();
    return file.error() == QFileDevice::NoError ? bytes : QByteArray();
}

}  // namespace

HistoryImport::HistoryImport(ConnectionJournal& journal, const std::string& appFolder,
                             AccountCollection accounts, std::string current, DateTime today)
    : journal_(journal),
      accounts_(std::move(accounts)),
      current_(std::move(current)),
      today_(today) {
    const QDir archives(QString::fromStdString(appFolder + "Factures"));
    // Sorted by name so that a second import sees the same rows in the same order.
    for (const QString& name : archives.entryList({"*.rtf"}, QDir::Files, QDir::Name)) {
        if (auto account = AccountOfArchiveName(name.toStdString(), &accounts_))
            files_.push_back({archives.filePath(name), std::move(*account)});
    }
    const QString running = QString::fromStdString(appFolder + "temp.rtf");
    running_ = ReadAll(running);
    files_.push_back({running, {}, true});
    files_.push_back({running, {}, true});
    batch_.reserve(kBatchRows);
}

HistoryImport::~HistoryImport() = default;

void HistoryImport::paragraph(const QString& text) {
    const std::string line = text.toStdString();
    auto row = RowOfInvoiceLine(line, account_);
    if (spanning_) {
        if (row) span_.add(*row);
        return;
    }
    if (!row) {
        if (LooksLikeInvoiceLine(line)) ++result_.unrecognised;
        return;
    }
    batch_.push_back(std::move(*row));
    if (batch_.size() >= kBatchRows) write(false);
}

bool HistoryImport::write(bool last) {
    if (failed_) return false;
    const auto added = journal_.importHistoryBatch(batch_, last);
    batch_.clear();
    if (!added) return !(failed_ = true);
    result_.added += *added;
    return true;
}

bool HistoryImport::step(const QDeadlineTimer& deadline) {
    while (!done_ && !failed_) {
        if (!reader_) {
            if (next_ == files_.size()) {
                write(true);
                done_ = true;
                break;
            }
            const File& file = files_[next_];
            const bool running = file.running;
            spanning_ = running && next_ + 2 == files_.size();
            if (running && !spanning_)
                account_ = RunningInvoiceAccount(accounts_, current_, span_, today_);
            else
                account_ = file.account;
            // An unreadable file gives no paragraph.
            reader_ = std::make_unique<RtfParagraphReader>(
                running ? running_ : ReadAll(file.path),
                [this](const QString& text) { paragraph(text); });
        }
        if (!reader_->readUntil(deadline)) return false;
        reader_.reset();
        ++next_;
        if (next_ == files_.size()) running_.clear();
        if (deadline.hasExpired()) return false;
    }
    return true;
}

ImportResult ImportInvoiceHistory(ConnectionJournal& journal, const std::string& appFolder,
                                  const AccountCollection& accounts, const std::string& current,
                                  DateTime today) {
    HistoryImport import(journal, appFolder, accounts, current, today);
    import.step(QDeadlineTimer(QDeadlineTimer::Forever));
    return import.result();
}

std::string UnrecognisedLinesText(std::size_t count) {
    if (count == 0) return {};
    return count == 1 ? "1 ligne non reconnue, ignorée."
                      : std::to_string(count) + " lignes non reconnues, ignorées.";
}

}  // namespace tallimer
