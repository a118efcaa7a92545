#include "platform/JournalSqlite.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>
#include <utility>

#include "platform/WalImage.h"
#include "support/FieldText.h"

namespace tallimer {

namespace {

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS connections ("
    " id INTEGER PRIMARY KEY,"
    " account TEXT NOT NULL, start_local TEXT NOT NULL, start_utc TEXT NOT NULL,"
    " end_local TEXT NOT NULL, end_utc TEXT NOT NULL, duration_ms INTEGER NOT NULL,"
    " cost REAL NOT NULL, normal_ms INTEGER NOT NULL, reduced_ms INTEGER NOT NULL,"
    " package_ms INTEGER NOT NULL, credit_ms INTEGER NOT NULL, package_fee REAL NOT NULL,"
    " address TEXT NOT NULL, bytes_received INTEGER NOT NULL, bytes_sent INTEGER NOT NULL,"
    " end_state INTEGER NOT NULL, origin INTEGER NOT NULL,"
    " volume_bytes INTEGER NOT NULL DEFAULT 0, volume_cost REAL NOT NULL DEFAULT 0);"
    "CREATE INDEX IF NOT EXISTS connections_start ON connections(account, start_local);"
    "CREATE INDEX IF NOT EXISTS connections_open ON connections(end_state);"
    // Each connection's bytes by application (kind 0), « Autres » (1), « Réseau local » (2).
    "CREATE TABLE IF NOT EXISTS app_volumes ("
    " connection INTEGER NOT NULL, kind INTEGER NOT NULL, app TEXT NOT NULL,"
    " received INTEGER NOT NULL, sent INTEGER NOT NULL,"
    " PRIMARY KEY (connection, kind, app)) WITHOUT ROWID;";

// PRAGMA user_version: 0 in journals from before the history was imported in batches (theirs
// is in), 1 while a new journal's history is still to come, 2 once it is in.
constexpr int kHistoryPending = 1;
constexpr int kHistoryIn = 2;

// Journals from before the volume tariffs lack the last two columns: they are added on
// opening, and read as 0 by a reader that may not write.
const std::string kColumnsBeforeVolume =
    "account, start_local, start_utc, end_local, end_utc, duration_ms, cost, normal_ms,"
    " reduced_ms, package_ms, credit_ms, package_fee, address, bytes_received, bytes_sent,"
    " end_state, origin";
const std::string kColumns = kColumnsBeforeVolume + ", volume_bytes, volume_cost";
const char* const kAddVolume[][2] = {
    {"volume_bytes", "ALTER TABLE connections ADD COLUMN volume_bytes INTEGER NOT NULL DEFAULT 0;"},
    {"volume_cost", "ALTER TABLE connections ADD COLUMN volume_cost REAL NOT NULL DEFAULT 0;"}};

// What the statistics read of a row, in the places of kColumns: not the texts they do not show.
const char* const kStatsColumns =
    "'', start_local, '', end_local, '', duration_ms, cost, normal_ms, reduced_ms, package_ms,"
    " credit_ms, package_fee, '', bytes_received, bytes_sent, end_state, origin, volume_bytes,"
    " volume_cost";

const char* const kUnreadable =
    "Le journal des connexions «\u00A0journal.sqlite\u00A0» était illisible\u00A0: il a été mis de "
    "côté sous «\u00A0journal illisible.sqlite\u00A0» et un nouveau journal a été commencé.";

struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
};

void BindText(sqlite3_stmt* s, int i, const std::string& text) {
    sqlite3_bind_text(s, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string Text(sqlite3_stmt* s, int i) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
                : std::string();
}

// The row into parameters 1 to 19, in the order of kColumns.
void BindRow(sqlite3_stmt* s, const JournalRow& r) {
    BindText(s, 1, r.account);
    BindText(s, 2, r.startLocal);
    BindText(s, 3, r.startUtc);
    BindText(s, 4, r.endLocal);
    BindText(s, 5, r.endUtc);
    sqlite3_bind_int64(s, 6, r.durationMs);
    sqlite3_bind_double(s, 7, r.cost);
    sqlite3_bind_int64(s, 8, r.normalMs);
    sqlite3_bind_int64(s, 9, r.reducedMs);
    sqlite3_bind_int64(s, 10, r.packageMs);
    sqlite3_bind_int64(s, 11, r.creditMs);
    sqlite3_bind_double(s, 12, r.packageFee);
    BindText(s, 13, r.address);
    sqlite3_bind_int64(s, 14, static_cast<sqlite3_int64>(r.bytesReceived));
    sqlite3_bind_int64(s, 15, static_cast<sqlite3_int64>(r.bytesSent));
    sqlite3_bind_int(s, 16, static_cast<int>(r.end));
    sqlite3_bind_int(s, 17, static_cast<int>(r.origin));
    sqlite3_bind_int64(s, 18, static_cast<sqlite3_int64>(r.volumeBytes));
    sqlite3_bind_double(s, 19, r.volumeCost);
}

JournalRow ReadRow(sqlite3_stmt* s) {
    JournalRow r;
    r.id = sqlite3_column_int64(s, 0);
    r.account = Text(s, 1);
    r.startLocal = Text(s, 2);
    r.startUtc = Text(s, 3);
    r.endLocal = Text(s, 4);
    r.endUtc = Text(s, 5);
    r.durationMs = sqlite3_column_int64(s, 6);
    r.cost = static_cast<float>(sqlite3_column_double(s, 7));
    r.normalMs = sqlite3_column_int64(s, 8);
    r.reducedMs = sqlite3_column_int64(s, 9);
    r.packageMs = sqlite3_column_int64(s, 10);
    r.creditMs = sqlite3_column_int64(s, 11);
    r.packageFee = static_cast<float>(sqlite3_column_double(s, 12));
    r.address = Text(s, 13);
    r.bytesReceived = static_cast<std::uint64_t>(sqlite3_column_int64(s, 14));
    r.bytesSent = static_cast<std::uint64_t>(sqlite3_column_int64(s, 15));
    const int end = sqlite3_column_int(s, 16);
    r.end = end == 1 ? JournalEnd::Normal : end == 2 ? JournalEnd::CutShort : JournalEnd::Open;
    r.origin = sqlite3_column_int(s, 17) == 1 ? JournalOrigin::Imported : JournalOrigin::Metered;
    r.volumeBytes = static_cast<std::uint64_t>(sqlite3_column_int64(s, 18));
    r.volumeCost = static_cast<float>(sqlite3_column_double(s, 19));
    return r;
}

// The period's rows by application, summed, from an open journal; false when they could not
// be read.
bool SumAppVolumes(sqlite3* db, const JournalQuery& q, std::vector<AppVolumeRow>& rows) {
    std::string sql =
        "SELECT a.kind, a.app, SUM(a.received), SUM(a.sent) FROM connections c"
        " JOIN app_volumes a ON a.connection = c.id WHERE 1";
    if (q.account) sql += " AND c.account = ?1";
    if (!q.fromLocal.empty()) sql += " AND c.start_local >= ?2";
    if (!q.toLocal.empty()) sql += " AND c.start_local < ?3";
    sql += " GROUP BY a.kind, a.app";
    Statement s;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s.s, nullptr) != SQLITE_OK) return false;
    BindText(s.s, 1, q.account.value_or(""));
    BindText(s.s, 2, q.fromLocal);
    BindText(s.s, 3, q.toLocal);
    int rc;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW) {
        const int kind = sqlite3_column_int(s.s, 0);
        if (kind < 0 || kind > static_cast<int>(AppRowKind::LocalNetwork)) continue;
        rows.push_back({static_cast<AppRowKind>(kind), Text(s.s, 1),
                        static_cast<std::uint64_t>(sqlite3_column_int64(s.s, 2)),
                        static_cast<std::uint64_t>(sqlite3_column_int64(s.s, 3))});
    }
    return rc == SQLITE_DONE;
}

// Whether the journal's table has that column.
bool HasColumn(sqlite3* db, const char* name, bool& has) {
    Statement s;
    if (sqlite3_prepare_v2(db,
                           "SELECT COUNT(*) FROM pragma_table_info('connections') WHERE name = ?1",
                           -1, &s.s, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_text(s.s, 1, name, -1, SQLITE_STATIC);
    if (sqlite3_step(s.s) != SQLITE_ROW) return false;
    has = sqlite3_column_int(s.s, 0) > 0;
    return true;
}

}  // namespace

SqliteJournal::SqliteJournal(std::string path) : path_(std::move(path)) {
    struct stat st;
    created_ = ::stat(path_.c_str(), &st) != 0;
    start();
}

void SqliteJournal::start() {
    const Opening opening = openFile();
    busy_ = opening == Opening::Busy;
    if (opening == Opening::Open) return;
    // Another program holds it: it is whole, only not ours yet.
    if (busy_) {
        failed("ouvert");
        closeFile();
        return;
    }
    closeFile();
    setAside();
    created_ = true;
    if (openFile() == Opening::Open) {
        error_ = kUnreadable;
        return;
    }
    failed("ouvert");
    closeFile();
}

bool SqliteJournal::ready() {
    if (!db_ && busy_) start();
    return db_ != nullptr;
}

SqliteJournal::~SqliteJournal() {
    closeFile();
}

SqliteJournal::Opening SqliteJournal::openFile() {
    // Busy or locked by another program: only what its check finds broken is set aside.
    auto outcome = [](int rc) {
        const int primary = rc & 0xFF;
        return primary == SQLITE_BUSY || primary == SQLITE_LOCKED ? Opening::Busy : Opening::Broken;
    };
    int rc =
        sqlite3_open_v2(path_.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) return outcome(rc);
    // Short: the journal is written on the metering path, and a stop request must not wait.
    sqlite3_busy_timeout(db_, kBusyMs);
    // NORMAL in WAL mode: a commit reaches the system at once (a killed program loses
    // nothing) and the disk at the checkpoints, so a refresh does not wait for the disk.
    rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                      nullptr);
    if (rc != SQLITE_OK) return outcome(rc);
    {
        Statement check;
        rc = sqlite3_prepare_v2(db_, "PRAGMA quick_check(1)", -1, &check.s, nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_step(check.s);
        if (rc != SQLITE_ROW) return outcome(rc);
        if (Text(check.s, 0) != "ok") return Opening::Broken;
    }
    // The check read every page; the few a connection's row needs are read again as needed.
    sqlite3_db_release_memory(db_);
    // A new journal is marked as waiting for its history in the same transaction that makes it.
    bool fresh = false, pending = false;
    {
        Statement table, version;
        rc =
            sqlite3_prepare_v2(db_, "SELECT COUNT(*) FROM sqlite_master WHERE name = 'connections'",
                               -1, &table.s, nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_step(table.s);
        if (rc != SQLITE_ROW) return outcome(rc);
        fresh = sqlite3_column_int(table.s, 0) == 0;
        std::string schema = "BEGIN;" + std::string(kSchema);
        if (fresh) schema += "PRAGMA user_version = " + std::to_string(kHistoryPending) + ";";
        for (const auto& [column, add] : kAddVolume) {
            bool has = true;
            if (!fresh && !HasColumn(db_, column, has)) return outcome(sqlite3_errcode(db_));
            if (!has) schema += add;
        }
        schema += "COMMIT;";
        rc = sqlite3_exec(db_, schema.c_str(), nullptr, nullptr, nullptr);
        // A journal the check found whole that cannot take its new columns now (a full disk)
        // is kept and tried again, never set aside as unreadable.
        if (rc != SQLITE_OK) return fresh ? outcome(rc) : Opening::Busy;
        rc = sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &version.s, nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_step(version.s);
        if (rc != SQLITE_ROW) return outcome(rc);
        pending = sqlite3_column_int(version.s, 0) == kHistoryPending;
    }
    historyPending_ = pending;
    const std::string values =
        "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19)";
    const std::string insert = "INSERT INTO connections (" + kColumns + ") VALUES " + values;
    const std::string update =
        "UPDATE connections SET (" + kColumns + ") = " + values + " WHERE id = ?20";
    const char* const find =
        "SELECT COUNT(*) FROM connections WHERE account = ?1 AND start_local = ?2 AND"
        " duration_ms = ?6 AND id <= ?20";
    // A table of another shape (a file from elsewhere) fails here.
    for (auto [sql, statement] : {std::pair{insert.c_str(), &insert_},
                                  std::pair{update.c_str(), &update_}, std::pair{find, &find_}}) {
        rc = sqlite3_prepare_v2(db_, sql, -1, statement, nullptr);
        if (rc != SQLITE_OK) return outcome(rc);
    }
    return Opening::Open;
}

void SqliteJournal::closeFile() {
    for (sqlite3_stmt** s : {&insert_, &update_, &find_}) {
        sqlite3_finalize(*s);
        *s = nullptr;
    }
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

void SqliteJournal::setAside() {
    auto exists = [](const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    };
    const std::string folder = path_.substr(0, path_.rfind('/') + 1);
    // An earlier unreadable journal is kept too.
    std::string target;
    for (int n = 1;; ++n) {
        target = folder + (n == 1 ? std::string("journal illisible.sqlite")
                                  : "journal illisible " + std::to_string(n) + ".sqlite");
        if (!exists(target) || n > 1000) break;
    }
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::string from = path_ + suffix;
        if (exists(from)) ::rename(from.c_str(), (target + suffix).c_str());
    }
}

void SqliteJournal::failed(const char* what) {
    error_ = std::string("Le journal des connexions n'a pas pu être ") + what +
             "\u00A0: " + (db_ ? sqlite3_errmsg(db_) : "mémoire insuffisante") + ".";
}

bool SqliteJournal::write(sqlite3_stmt* s, const JournalRow* row, std::int64_t id) {
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    if (row) BindRow(s, *row);
    if (id) sqlite3_bind_int64(s, 20, id);
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc == SQLITE_DONE) return true;
    failed("écrit");
    return false;
}

std::int64_t SqliteJournal::open(const JournalRow& row) {
    if (!ready()) return 0;
    if (!write(insert_, &row, 0)) return 0;
    return sqlite3_last_insert_rowid(db_);
}

void SqliteJournal::refresh(const JournalRow& row) {
    if (row.id && ready()) write(update_, &row, row.id);
}

void SqliteJournal::close(const JournalRow& row) {
    refresh(row);
}

void SqliteJournal::markOpenRowsCutShort() {
    // The row's last refresh is the recovered invoice line's time: it ends there.
    static const char* const kCut =
        "UPDATE connections SET end_state = 2,"
        " end_local = COALESCE(strftime('%Y-%m-%dT%H:%M:%S', start_local,"
        " (duration_ms / 1000) || ' seconds'), ''),"
        " end_utc = COALESCE(strftime('%Y-%m-%dT%H:%M:%SZ', start_utc,"
        " (duration_ms / 1000) || ' seconds'), '') WHERE end_state = 0";
    if (ready() && sqlite3_exec(db_, kCut, nullptr, nullptr, nullptr) != SQLITE_OK) failed("écrit");
}

bool SqliteJournal::select(const char* columns, const JournalQuery& q,
                           const std::function<void(sqlite3_stmt*)>& each, bool tableOrder) {
    if (!ready()) return false;
    Statement s;
    // Only the conditions asked for: a condition that may be void ("?1 = '' OR ...") keeps
    // SQLite from reading the account's rows in order off the index, and the whole table is
    // scanned and sorted instead.
    std::string sql = std::string("SELECT id, ") + columns + " FROM connections" +
                      (tableOrder ? " NOT INDEXED" : "") + " WHERE 1";
    if (q.account) sql += " AND account = ?1";
    if (!q.fromLocal.empty()) sql += " AND start_local >= ?2";
    if (!q.toLocal.empty()) sql += " AND start_local < ?3";
    if (!tableOrder) sql += " ORDER BY start_local, id";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s.s, nullptr) != SQLITE_OK) {
        failed("lu");
        return false;
    }
    BindText(s.s, 1, q.account.value_or(""));
    BindText(s.s, 2, q.fromLocal);
    BindText(s.s, 3, q.toLocal);
    int rc;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW) each(s.s);
    if (rc == SQLITE_DONE) return true;
    failed("lu");
    return false;
}

std::vector<JournalRow> SqliteJournal::query(const JournalQuery& q) {
    std::vector<JournalRow> rows;
    select(kColumns.c_str(), q, [&rows](sqlite3_stmt* s) { rows.push_back(ReadRow(s)); });
    return rows;
}

std::vector<StatsRow> SqliteJournal::statsRows(const std::string& account) {
    std::vector<StatsRow> rows;
    // Counted first: a vector grown by doubling would hold twice the rows at its peak.
    Statement count;
    bool most = false;
    if (ready() && sqlite3_prepare_v2(db_,
                                      "SELECT COUNT(*), (SELECT MAX(id) FROM connections)"
                                      " FROM connections WHERE account = ?1",
                                      -1, &count.s, nullptr) == SQLITE_OK) {
        BindText(count.s, 1, account);
        if (sqlite3_step(count.s) == SQLITE_ROW) {
            const sqlite3_int64 n = sqlite3_column_int64(count.s, 0);
            rows.reserve(static_cast<std::size_t>(n));
            most = n > sqlite3_column_int64(count.s, 1) / 2;
        }
    }
    // An account with most of the rows is read faster in the table's order than through the
    // index, then put in query()'s order: a start read as a date is of the form whose digits
    // sort as its text.
    const bool read = select(
        kStatsColumns, {account, {}, {}},
        [&rows](sqlite3_stmt* s) {
            const JournalRow row = ReadRow(s);
            if (auto r = StatsRowOf(row, row.id)) rows.push_back(std::move(*r));
        },
        most);
    auto before = [](const StatsRow& a, const StatsRow& b) {
        return a.startDigits != b.startDigits ? a.startDigits < b.startDigits : a.key < b.key;
    };
    if (read && most && !std::is_sorted(rows.begin(), rows.end(), before))
        std::sort(rows.begin(), rows.end(), before);
    return rows;
}

bool SqliteJournal::hasRows(const std::string& account) {
    Statement s;
    if (!ready() || sqlite3_prepare_v2(db_, "SELECT 1 FROM connections WHERE account = ?1 LIMIT 1",
                                       -1, &s.s, nullptr) != SQLITE_OK)
        return false;
    BindText(s.s, 1, account);
    return sqlite3_step(s.s) == SQLITE_ROW;
}

std::vector<JournalRow> SqliteJournal::fullRows(const std::string& /*account*/,
                                                const std::vector<std::int64_t>& keys) {
    std::vector<JournalRow> rows;
    Statement s;
    const std::string sql =
        std::string("SELECT id, ") + kColumns + " FROM connections WHERE id = ?1";
    if (!ready() || sqlite3_prepare_v2(db_, sql.c_str(), -1, &s.s, nullptr) != SQLITE_OK) {
        failed("lu");
        return rows;
    }
    rows.reserve(keys.size());
    for (std::int64_t key : keys) {
        sqlite3_reset(s.s);
        sqlite3_bind_int64(s.s, 1, key);
        const int rc = sqlite3_step(s.s);
        if (rc == SQLITE_ROW)
            rows.push_back(ReadRow(s.s));
        else if (rc != SQLITE_DONE)
            failed("lu");
    }
    return rows;
}

std::size_t SqliteJournal::importRows(const std::vector<JournalRow>& rows) {
    Seen seen;
    return importBatch(rows, lastId(), seen, false).value_or(0);
}

std::optional<std::size_t> SqliteJournal::importHistoryBatch(const std::vector<JournalRow>& rows,
                                                             bool last) {
    if (!historyBefore_) historyBefore_ = lastId();
    if (!historyBefore_) return std::nullopt;
    auto added = importBatch(rows, *historyBefore_, historySeen_, last);
    if (added && last) historyPending_ = false;
    return added;
}

std::optional<std::int64_t> SqliteJournal::lastId() {
    if (!ready()) return std::nullopt;
    Statement s;
    if (sqlite3_prepare_v2(db_, "SELECT COALESCE(MAX(id), 0) FROM connections", -1, &s.s,
                           nullptr) != SQLITE_OK ||
        sqlite3_step(s.s) != SQLITE_ROW) {
        failed("lu");
        return std::nullopt;
    }
    return sqlite3_column_int64(s.s, 0);
}

std::optional<std::size_t> SqliteJournal::importBatch(const std::vector<JournalRow>& rows,
                                                      std::optional<std::int64_t> before,
                                                      Seen& seen, bool last) {
    if (!before || !ready()) return std::nullopt;
    if (rows.empty() && !last) return 0;
    if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        failed("écrit");
        return std::nullopt;
    }
    auto rollback = [this] {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return std::nullopt;
    };
    std::size_t added = 0;
    // Two identical lines are two connections: the n-th of a kind is added while fewer than n
    // were there before the import, so a second import adds nothing. Only kinds already there
    // are counted: a new journal's import holds no key.
    for (const JournalRow& row : rows) {
        if (*before > 0) {
            sqlite3_reset(find_);
            sqlite3_clear_bindings(find_);
            BindRow(find_, row);
            sqlite3_bind_int64(find_, 20, *before);
            const int rc = sqlite3_step(find_);
            const sqlite3_int64 there = rc == SQLITE_ROW ? sqlite3_column_int64(find_, 0) : 0;
            sqlite3_reset(find_);
            if (rc != SQLITE_ROW) {
                failed("lu");
                return rollback();
            }
            if (there > 0 && there >= ++seen[{row.account, row.startLocal, row.durationMs}])
                continue;
        }
        if (!write(insert_, &row, 0)) return rollback();
        ++added;
    }
    const std::string mark = "PRAGMA user_version = " + std::to_string(kHistoryIn);
    if ((last && sqlite3_exec(db_, mark.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) ||
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        failed("écrit");
        return rollback();
    }
    return added;
}

void SqliteJournal::keepAppVolumes(std::int64_t id, const std::vector<AppVolumeRow>& rows) {
    if (!id || !ready()) return;
    // All of the connection's rows or none: a half-kept set would not add up.
    if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        failed("écrit");
        return;
    }
    Statement remove, insert;
    bool ok = sqlite3_prepare_v2(db_, "DELETE FROM app_volumes WHERE connection = ?1", -1,
                                 &remove.s, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db_, "INSERT INTO app_volumes VALUES (?1, ?2, ?3, ?4, ?5)", -1,
                                 &insert.s, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_bind_int64(remove.s, 1, id);
        ok = sqlite3_step(remove.s) == SQLITE_DONE;
    }
    for (const AppVolumeRow& r : rows) {
        if (!ok) break;
        sqlite3_reset(insert.s);
        sqlite3_bind_int64(insert.s, 1, id);
        sqlite3_bind_int(insert.s, 2, static_cast<int>(r.kind));
        BindText(insert.s, 3, r.app);
        sqlite3_bind_int64(insert.s, 4, static_cast<sqlite3_int64>(r.received));
        sqlite3_bind_int64(insert.s, 5, static_cast<sqlite3_int64>(r.sent));
        ok = sqlite3_step(insert.s) == SQLITE_DONE;
    }
    if (ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return;
    failed("écrit");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::vector<AppVolumeRow> SqliteJournal::appVolumes(const JournalQuery& query) {
    std::vector<AppVolumeRow> rows;
    if (ready() && !SumAppVolumes(db_, query, rows)) {
        failed("lu");
        rows.clear();
    }
    return rows;
}

std::string SqliteJournal::takeError() {
    return std::exchange(error_, std::string());
}

namespace {

// The journal opened without writing anything: read in memory, since SQLite's own read-only
// opening of a journal in WAL mode still maps its index read-write, takes locks and may make
// side files. Null when it is missing or cannot be read.
sqlite3* OpenReadOnly(const std::string& path) {
    const std::optional<std::string> image = DatabaseImage(path);
    if (!image) return nullptr;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    auto* bytes = static_cast<unsigned char*>(sqlite3_malloc64(image->size()));
    if (bytes) std::memcpy(bytes, image->data(), image->size());
    if (!bytes || sqlite3_deserialize(
                      db, "main", bytes, static_cast<sqlite3_int64>(image->size()),
                      static_cast<sqlite3_int64>(image->size()),
                      SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

}  // namespace

std::vector<AppVolumeRow> ReadAppVolumes(const std::string& path, const JournalQuery& query) {
    std::vector<AppVolumeRow> rows;
    sqlite3* db = OpenReadOnly(path);
    if (!db) return rows;
    // A journal from before the applications' bytes has none.
    if (!SumAppVolumes(db, query, rows)) rows.clear();
    sqlite3_close(db);
    return rows;
}

std::map<std::string, std::vector<JournalRow>> ReadNewestRows(
    const std::string& path, const std::vector<std::string>& accounts, int count) {
    std::map<std::string, std::vector<JournalRow>> out;
    sqlite3* db = OpenReadOnly(path);
    if (!db) return out;
    bool volume = false;
    if (HasColumn(db, "volume_cost", volume)) {
        Statement s;
        const std::string sql = std::string("SELECT id, ") +
                                (volume ? kColumns : kColumnsBeforeVolume + ", 0, 0") +
                                " FROM connections WHERE account = ?1"
                                " ORDER BY start_local DESC, id DESC LIMIT ?2";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s.s, nullptr) == SQLITE_OK) {
            for (const std::string& account : accounts) {
                sqlite3_reset(s.s);
                BindText(s.s, 1, account);
                sqlite3_bind_int(s.s, 2, count);
                std::vector<JournalRow>& rows = out[account];
                while (sqlite3_step(s.s) == SQLITE_ROW) rows.push_back(ReadRow(s.s));
            }
        }
    }
    sqlite3_close(db);
    return out;
}

}  // namespace tallimer
