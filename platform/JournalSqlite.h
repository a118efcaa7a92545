#pragma once
// The connection journal in an SQLite file (WAL mode: a refresh costs no flush to the disk,
// and a killed program loses nothing already written). A file that cannot be opened or
// read is set aside as "journal illisible.sqlite" and a new journal is started. One that
// another program holds is waited for a moment, then tried again at its next use.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "metering/Journal.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tallimer {

class SqliteJournal final : public ConnectionJournal {
  public:
    // How long a call waits for a journal another program holds: short, so a stop request
    // never waits.
    static constexpr int kBusyMs = 200;
    explicit SqliteJournal(std::string path);
    ~SqliteJournal() override;
    SqliteJournal(const SqliteJournal&) = delete;
    SqliteJournal& operator=(const SqliteJournal&) = delete;

    // Whether this journal was started empty now (no file, or an unreadable one set aside):
    // the invoices' history is then to be imported.
    bool created() const { return created_; }
    bool usable() const { return db_ != nullptr; }

    std::int64_t open(const JournalRow& row) override;
    void refresh(const JournalRow& row) override;
    void close(const JournalRow& row) override;
    void markOpenRowsCutShort() override;
    std::vector<JournalRow> query(const JournalQuery& query) override;
    std::vector<StatsRow> statsRows(const std::string& account) override;
    bool hasRows(const std::string& account) override;
    std::vector<JournalRow> fullRows(const std::string& account,
                                     const std::vector<std::int64_t>& keys) override;
    std::size_t importRows(const std::vector<JournalRow>& rows) override;
    bool historyPending() override { return historyPending_; }
    std::optional<std::size_t> importHistoryBatch(const std::vector<JournalRow>& rows,
                                                  bool last) override;
    void keepAppVolumes(std::int64_t id, const std::vector<AppVolumeRow>& rows) override;
    std::vector<AppVolumeRow> appVolumes(const JournalQuery& query) override;
    std::string takeError() override;

  private:
    using Seen = std::map<std::tuple<std::string, std::string, std::int64_t>, std::int64_t>;
    // Steps through the rows query() gives, with only `columns` (of ReadRow's places) read,
    // in the table's order when asked; false when they could not be read.
    bool select(const char* columns, const JournalQuery& query,
                const std::function<void(sqlite3_stmt*)>& each, bool tableOrder = false);
    std::optional<std::int64_t> lastId();
    // Rows added unless as many of their kind were there up to id `before`; nullopt when the
    // batch could not be written (nothing of it is).
    std::optional<std::size_t> importBatch(const std::vector<JournalRow>& rows,
                                           std::optional<std::int64_t> before, Seen& seen,
                                           bool last);
    enum class Opening { Open, Busy, Broken };
    void start();
    // Opens the file if it was busy; false when there is none to use.
    bool ready();
    Opening openFile();
    void closeFile();
    void setAside();
    bool write(sqlite3_stmt* statement, const JournalRow* row, std::int64_t id);
    void failed(const char* what);

    std::string path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* update_ = nullptr;
    sqlite3_stmt* find_ = nullptr;
    bool created_ = false;
    bool historyPending_ = false;
    std::optional<std::int64_t> historyBefore_;  // the last row's id when the history began
    Seen historySeen_;
    bool busy_ = false;
    std::string error_;
};

// Each named account's newest rows, newest first, at most `count` of each, read without
// writing anything: no journal made, none migrated, no side file left. A missing or
// unreadable journal gives none.
std::map<std::string, std::vector<JournalRow>> ReadNewestRows(
    const std::string& path, const std::vector<std::string>& accounts, int count);

// The rows by application of the connections the query gives, summed as appVolumes() sums
// them, read as ReadNewestRows reads: a journal from before them has none.
std::vector<AppVolumeRow> ReadAppVolumes(const std::string& path, const JournalQuery& query);

}  // namespace tallimer
