#include "invoices/RunningInvoiceFile.h"

#include <charconv>
#include <cstdint>
#include <iterator>
#include <optional>
#include <utility>

#include "accounts/AccountFiles.h"
#include "invoices/Invoices.h"
#include "support/Errors.h"
#include "support/FileWrite.h"

namespace tallimer {

namespace {

// The whole of a small file, or nothing when it cannot be read.
std::optional<std::string> Contents(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return std::nullopt;
    return bytes;
}

std::string Hash(const std::optional<std::string>& bytes) {
    if (!bytes) return "-";
    std::uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : *bytes) h = (h ^ c) * 1099511628211ull;
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, h, 16);
    return std::string(buf, end);
}

template <class T>
std::string Text(T value) {
    char buf[40];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, end);
}

// A record: values one a line, then the account name to the end (it may hold anything).
std::string Record(std::initializer_list<std::string> values, const std::string& name) {
    std::string out;
    for (const std::string& v : values) out += v + "\r\n";
    return out + name;
}

bool ParseRecord(const std::string& bytes, std::size_t count, std::vector<std::string>& values,
                 std::string& name) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < count; ++i) {
        auto end = bytes.find("\r\n", start);
        if (end == std::string::npos) return false;
        values.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    name = bytes.substr(start);
    return true;
}

template <class T>
bool Parse(const std::string& text, T& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

RunningInvoiceFile::RunningInvoiceFile(InvoiceDocument& document, std::string appFolder,
                                       Locale locale, Report report)
    : document_(document),
      appFolder_(std::move(appFolder)),
      locale_(std::move(locale)),
      report_(std::move(report)) {}

void RunningInvoiceFile::AddLine(DateTime when, msTIME duration, float amount) {
    AddInvoiceLine(document_, when, duration, amount, locale_);
    SaveReporting();
}

bool RunningInvoiceFile::RecordConnection(DateTime when, msTIME duration, float amount,
                                          const std::string& accountName, const Account& account,
                                          TotalTime overallDuration, float overallCost) {
    connectionEnded_ = false;
    return WriteFileAtomically(
        connectionRecordPath(),
        Record({Text(when), Text(duration.totalMs), Text(amount),
                Text(account.periodDuration.totalMs), Text(account.periodCost),
                Text(account.packageRemaining.totalMs), Text(account.packageCharged ? 1 : 0),
                Text(overallDuration.totalMs), Text(overallCost)},
               accountName),
        appFolder_);
}

void RunningInvoiceFile::EndConnection(DateTime when, msTIME duration, float amount,
                                       const std::string& accountName, const Account& account,
                                       TotalTime overallDuration, float overallCost) {
    RecordConnection(when, duration, amount, accountName, account, overallDuration, overallCost);
    AddInvoiceLine(document_, when, duration, amount, locale_);
    connectionEnded_ = true;
    lineOnDisk_ = accountsOnDisk_ = false;
    SaveReporting();
}

void RunningInvoiceFile::AccountsSaved() {
    accountsOnDisk_ = true;
    settleConnection();
}

void RunningInvoiceFile::settleConnection() {
    if (connectionEnded_ && lineOnDisk_ && accountsOnDisk_ && RemoveFile(connectionRecordPath()))
        connectionEnded_ = false;
}

void RunningInvoiceFile::ClosePeriod(Account& account, const std::string& providerName,
                                     DateTime today) {
    const DateTime billed = account.nextInvoice;
    const std::size_t paragraphs = document_.paragraphCount();
    const CharAttributes attributes = document_.appendAttributes();
    try {
        ArchiveInvoice(account, providerName, appFolder_, document_, locale_);
        // The last connection's line is filed now: its record has nothing more to give, and
        // must not give the line again to the next period after a crash.
        if (!RemoveFile(connectionRecordPath())) throw FileError::create(connectionRecordPath());
        connectionEnded_ = false;
    } catch (...) {
        // Nothing closed: the invoice and the account stay as they were. The file is written
        // all the same, as a retry of an earlier write that may have failed.
        document_.truncateParagraphs(paragraphs);
        document_.setAppendAttributes(attributes);
        SaveReporting();
        throw;
    }
    // The archive is complete and synced; from here the closing only goes forward.
    const std::string before = Hash(Contents(path()));
    std::exception_ptr templateError;
    try {
        StartNewPeriod(account, appFolder_, document_, today);
    } catch (...) {
        templateError = std::current_exception();
    }
    closingAccount_ = &account;
    closingName_ = providerName;
    closingAccountSaved_ = false;
    closingRecorded_ = WriteFileAtomically(
        closingRecordPath(),
        Record({Text(billed), Text(account.nextInvoice), before}, providerName), appFolder_);
    SaveReporting();
    if (templateError) std::rethrow_exception(templateError);
}

void RunningInvoiceFile::Save() {
    if (closingAccount_ && !closingAccountSaved_) {
        closingAccountSaved_ = SaveAccountFile(appFolder_, closingName_, *closingAccount_);
        // Without a record, a crash must not find the fresh invoice beside the old totals:
        // they would be filed again over the complete archive.
        if (!closingAccountSaved_ && !closingRecorded_) throw FileError::create(path());
    }
    document_.saveRtf(path());
    if (closingAccount_ && closingAccountSaved_) finishClosing();
    lineOnDisk_ = true;
    settleConnection();
}

void RunningInvoiceFile::finishClosing() {
    // Even when its write said it failed: a record renamed into place before a failed folder
    // sync is there, and with a period of 0 months it would close the period again.
    if (!RemoveFile(closingRecordPath())) return;
    closingRecorded_ = false;
    closingAccount_ = nullptr;
}

bool RunningInvoiceFile::SaveReporting() {
    try {
        Save();
        return true;
    } catch (const std::exception& e) {
        if (report_) report_(e);
        return false;
    }
}

void RunningInvoiceFile::Recover(AccountCollection& accounts, OverallState& state) {
    std::vector<std::string> v;
    std::string name;
    if (auto bytes = Contents(closingRecordPath()); bytes && ParseRecord(*bytes, 3, v, name)) {
        DateTime billed = 0, next = 0;
        bool done = true;
        Account* account = accounts.find(name);
        if (Parse(v[0], billed) && Parse(v[1], next) && account) {
            // Not yet moved on: the archive was complete, so the new period starts now.
            const bool moved =
                account->nextInvoice == next &&
                (next != billed || (account->periodDuration == 0 && account->periodCost == 0));
            if (!moved) {
                account->periodDuration = 0;
                account->periodCost = 0;
                account->packageRemaining = account->packageDuration;
                account->packageCharged = false;
                account->nextInvoice = next;
                done = SaveAccountFile(appFolder_, name, *account);
            }
        }
        // The invoice still holding the filed lines starts afresh from the template.
        if (done && Hash(Contents(path())) == v[2]) {
            try {
                document_.loadRtf(appFolder_ + "base.rtf");
            } catch (const std::exception& e) {
                document_.truncateParagraphs(0);
                if (report_) report_(e);
            }
            done = SaveReporting();
        }
        if (done) RemoveFile(closingRecordPath());
    }

    v.clear();
    if (auto bytes = Contents(connectionRecordPath()); bytes && ParseRecord(*bytes, 9, v, name)) {
        DateTime when = 0;
        std::int32_t duration = 0, remaining = 0, charged = 0;
        std::int64_t periodDuration = 0, overall = 0;
        float amount = 0, periodCost = 0, overallCost = 0;
        Account* account = accounts.find(name);
        bool done = true;
        if (Parse(v[0], when) && Parse(v[1], duration) && Parse(v[2], amount) &&
            Parse(v[3], periodDuration) && Parse(v[4], periodCost) && Parse(v[5], remaining) &&
            Parse(v[6], charged) && Parse(v[7], overall) && Parse(v[8], overallCost) && account) {
            // The record is written just before the accounts: it is never behind them, and a
            // closing removes it once the connection's line is filed.
            if (account->periodDuration.totalMs < periodDuration) {
                account->periodDuration = periodDuration;
                account->periodCost = periodCost;
                account->packageRemaining = remaining;
                account->packageCharged = charged != 0;
            }
            if (state.overallDuration.totalMs < overall) {
                state.overallDuration = overall;
                state.overallCost = overallCost;
            }
            done = SaveAll(appFolder_, accounts, state);
            const std::string line = InvoiceLineText(when, duration, amount, locale_);
            bool there = false;
            for (std::size_t i = document_.paragraphCount(); i-- > 0 && !there;)
                there = document_.paragraphText(i) == line;
            // A connection recorded at its start and cut at once has no line to give.
            if (!there && (duration != 0 || amount != 0)) {
                AddInvoiceLine(document_, when, duration, amount, locale_);
                done = SaveReporting() && done;
            }
        }
        if (done) RemoveFile(connectionRecordPath());
    }
}

}  // namespace tallimer
