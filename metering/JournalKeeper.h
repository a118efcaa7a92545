#pragma once
// Keeps the journal's row of the connection being metered in step with the meter: opened
// at the connection's start, refreshed at the minute save, closed at its end. The journal
// is never allowed to stop the metering: its failures are handed to the report once.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "metering/Journal.h"
#include "metering/Meter.h"
#include "support/Clock.h"

namespace tallimer {

class VolumeMeter;

// "YYYY-MM-DDThh:mm:ss" of a local reading, and the UTC stamp of the clock's present
// ("YYYY-MM-DDThh:mm:ssZ"), its date taken from the local one and the zone's offset.
std::string IsoLocal(const LocalDateTime& t);
std::string IsoUtcNow(const Clock& clock);

class JournalKeeper {
  public:
    using Report = std::function<void(const std::string& frenchText)>;

    // journal may be null: then nothing is kept; so is the volume without a volume meter.
    JournalKeeper(ConnectionJournal* journal, const Clock& clock, const Meter& meter, Report report,
                  const VolumeMeter* volume = nullptr);

    // At the program's start: rows a dead program left open are cut short.
    void atStart();
    // After the meter started a connection.
    void connected(const std::string& address);
    // At the minute save while metering; an address that moved is kept.
    void minute(const std::string& address);
    // After the meter stopped: Normal, or CutShort when the program ends.
    void disconnected(JournalEnd end);

    // Another store from now on; a row open in the previous one is not continued.
    void setJournal(ConnectionJournal* journal) {
        journal_ = journal;
        open_ = false;
    }
    bool open() const { return open_; }
    const JournalRow& row() const { return row_; }

  private:
    void fill();
    void check();

    ConnectionJournal* journal_;
    const Clock& clock_;
    const Meter& meter_;
    Report report_;
    const VolumeMeter* volume_;
    JournalRow row_;
    bool open_ = false;
    bool reported_ = false;
};

// Invoice lines ("\t05 mars 01, 21:07:44\t00:12:30\t1,23") as imported rows of an
// account (UTC stamps, rates, bytes and address unknown: left empty or 0). The stamp is the
// connection's end; the month may be French or English. A line of no time is a package fee:
// it is kept as the row's fee, its cost 0, since the connection's line that follows holds the
// fee in its amount already.
std::optional<JournalRow> RowOfInvoiceLine(const std::string& text, const std::string& account);
std::vector<JournalRow> RowsOfInvoice(const std::vector<std::string>& paragraphs,
                                      const std::string& account);
// The account of an archive file name ("Maison 05 mars 01.rtf"), empty when the name is
// not an archive's. A name shortened for the file is the account among `accounts` whose
// archives are named so.
std::optional<std::string> AccountOfArchiveName(const std::string& fileName,
                                                const AccountCollection* accounts = nullptr);

// Where imported lines go when no single account can be told: never a real account.
inline constexpr const char* kImportedHistory = "« Historique importé »";

// The account the running invoice's lines are imported to: the only account, or the one
// account whose current period holds every line (the default connection's when there is
// no account yet); else kImportedHistory.
std::string RunningInvoiceAccount(const AccountCollection& accounts, const std::string& current,
                                  const std::vector<JournalRow>& rows, DateTime today);
// What that choice needs of the lines, gathered a row at a time so they need not be held.
struct RunningLinesSpan {
    bool allDated = true;  // every row has a readable start and end
    std::optional<DateTime> firstEnd, lastEnd;
    void add(const JournalRow& row);
};
std::string RunningInvoiceAccount(const AccountCollection& accounts, const std::string& current,
                                  const RunningLinesSpan& lines, DateTime today);

// An invoice line the import could not read: a paragraph that starts as one (a tab and a
// digit) but is not one, as a hand-typed line may be.
bool LooksLikeInvoiceLine(const std::string& paragraph);

}  // namespace tallimer
