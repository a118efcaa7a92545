#pragma once
// The connection journal: one row per metered connection, kept beside the account files so
// people can check the provider's bill line by line. Core declares the store; the SQLite
// source lives in platform/, a fake in tests/common/.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tallimer {

// How a row ended. Open: the connection is in progress (or the program died during it and
// the row was not yet seen at a start). CutShort: the program ended or died during it.
enum class JournalEnd : std::uint8_t { Open = 0, Normal = 1, CutShort = 2 };

// What the row came from: the meter itself, or an invoice line imported from the running
// invoice or an archive (bytes, rates and address unknown).
enum class JournalOrigin : std::uint8_t { Metered = 0, Imported = 1 };

struct JournalRow {
    std::int64_t id = 0;  // given by the store at open; 0 before
    std::string account;
    // ISO 8601: local "YYYY-MM-DDThh:mm:ss" and UTC "YYYY-MM-DDThh:mm:ssZ".
    std::string startLocal, startUtc;
    std::string endLocal, endUtc;  // empty while open
    std::int64_t durationMs = 0;
    float cost = 0;
    // Time spent at each rate: normal price, reduced price, inside the package, on the
    // time credit paid at the connection's start.
    std::int64_t normalMs = 0, reducedMs = 0, packageMs = 0, creditMs = 0;
    float packageFee = 0;  // the package's price when it was charged in this connection
    std::string address;   // the primary address while metered
    std::uint64_t bytesReceived = 0, bytesSent = 0;
    // Under a volume tariff: the bytes counted (free hours included) and their part of cost.
    std::uint64_t volumeBytes = 0;
    float volumeCost = 0;
    JournalEnd end = JournalEnd::Open;
    JournalOrigin origin = JournalOrigin::Metered;
};

// A connection's bytes of one application, or of what no application explains, or of the
// local network left out of its volume; kept with the connection's row.
enum class AppRowKind : std::uint8_t { Application = 0, Others = 1, LocalNetwork = 2 };
struct AppVolumeRow {
    AppRowKind kind = AppRowKind::Application;
    std::string app;  // the application's name; empty for the other two kinds
    std::uint64_t received = 0, sent = 0;
    bool operator==(const AppVolumeRow&) const = default;
};

// What the statistics window keeps of a row: no texts but the local start and end, so the
// list and the figures of 100,000 rows fit in a few megabytes. Only rows whose local start
// reads as a date and time have one.
struct StatsRow {
    // Finds the row again with ConnectionJournal::fullRows(): its id in the SQLite journal.
    std::int64_t key = 0;
    double start = 0;  // the local start as a DateTime
    // The local start's and end's 14 digits (yyyymmddhhmmss), the texts again; the end's is -1
    // when the text is not of that form, which endText then holds (null when empty).
    std::int64_t startDigits = 0, endDigits = -1;
    std::unique_ptr<std::string> endText;
    std::int64_t durationMs = 0;
    float cost = 0, packageFee = 0, volumeCost = 0;
    std::int64_t normalMs = 0, reducedMs = 0, packageMs = 0, creditMs = 0;
    std::uint64_t bytesReceived = 0, bytesSent = 0, volumeBytes = 0;
    JournalEnd end = JournalEnd::Open;
    JournalOrigin origin = JournalOrigin::Metered;
};

// The row's statistics, keyed `key`; nullopt when its local start is not a date and time.
std::optional<StatsRow> StatsRowOf(const JournalRow& row, std::int64_t key);

// A period to query: rows whose local start is in [fromLocal, toLocal) as ISO 8601 texts;
// an empty bound is open. No account means every account; "" is the unnamed one.
struct JournalQuery {
    std::optional<std::string> account;
    std::string fromLocal, toLocal;
};

class ConnectionJournal {
  public:
    virtual ~ConnectionJournal() = default;
    // Each call is quick and never throws: a failure is kept for lastError() and the
    // metering goes on. open() gives the row its id (0 when it could not be written).
    virtual std::int64_t open(const JournalRow& row) = 0;
    virtual void refresh(const JournalRow& row) = 0;  // by row.id
    virtual void close(const JournalRow& row) = 0;    // by row.id, row.end set
    // Rows still Open at a start belong to a program that died: they become CutShort.
    virtual void markOpenRowsCutShort() = 0;
    virtual std::vector<JournalRow> query(const JournalQuery& query) = 0;
    // The account's rows in the order of query() as the statistics need them, and the full
    // rows of some of them again by their keys (an export of the list). By default the key is
    // the row's place among query()'s.
    virtual std::vector<StatsRow> statsRows(const std::string& account);
    virtual bool hasRows(const std::string& account) { return !query({account, {}, {}}).empty(); }
    virtual std::vector<JournalRow> fullRows(const std::string& account,
                                             const std::vector<std::int64_t>& keys);
    // Adds imported rows unless a row with the same account, local start and duration is
    // already there; gives how many were added.
    virtual std::size_t importRows(const std::vector<JournalRow>& rows) = 0;
    // The invoices' history is taken in batches, each its own transaction; the last one also
    // records that the history is in, so a journal stopped half-way is neither taken as
    // complete nor given a row twice: its import starts again, and what the rows there before
    // it already hold is not added again.
    virtual bool historyPending() { return false; }
    // Gives how many rows were added, nullopt when the batch could not be written.
    virtual std::optional<std::size_t> importHistoryBatch(const std::vector<JournalRow>& rows,
                                                          bool /*last*/) {
        return importRows(rows);
    }
    // A connection's rows by application, kept with its row (by its id): they replace what
    // was kept for it. A store that keeps none ignores them.
    virtual void keepAppVolumes(std::int64_t /*id*/, const std::vector<AppVolumeRow>& /*rows*/) {}
    // The rows of the connections query() gives, summed per kind and application, in no order.
    virtual std::vector<AppVolumeRow> appVolumes(const JournalQuery& /*query*/) { return {}; }
    // The French text of the last failure, empty when none since the last call.
    virtual std::string takeError() = 0;
};

}  // namespace tallimer
