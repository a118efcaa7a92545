#include "invoices/RunningInvoiceFile.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <deque>
#include <iterator>
#include <map>
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

void RunningInvoiceFile::AddLine(DateTime when, msTIME duration, float amount,
                                 const std::optional<std::string>& accountName) {
    appendLine(when, duration, amount, accountName);
    SaveReporting();
}

void RunningInvoiceFile::appendLine(DateTime when, msTIME duration, float amount,
                                    const std::optional<std::string>& accountName) {
    const std::string text = InvoiceLineText(when, duration, amount, locale_);
    // The owner first: a crash in between leaves a record of no line, never a line of nobody.
    if (accountName) {
        lineOwners();
        lineOwners_->push_back({*accountName, text});
        writeLineOwners();
    }
    document_.appendParagraph(text);
}

// "<bytes of the name> <name><line>" CR LF per line: a name may hold anything.
const std::vector<RunningInvoiceFile::LineOwner>& RunningInvoiceFile::lineOwners() {
    if (lineOwners_) return *lineOwners_;
    lineOwners_.emplace();
    std::string bytes;
    if (!ReadWholeFile(lineOwnersPath(), bytes)) return *lineOwners_;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t space = bytes.find(' ', at);
        std::size_t size = 0;
        if (space == std::string::npos || !Parse(bytes.substr(at, space - at), size) ||
            size > bytes.size() - space - 1)
            break;
        const std::size_t textAt = space + 1 + size;
        const std::size_t end = bytes.find("\r\n", textAt);
        if (end == std::string::npos) break;
        lineOwners_->push_back({bytes.substr(space + 1, size), bytes.substr(textAt, end - textAt)});
        at = end + 2;
    }
    return *lineOwners_;
}

void RunningInvoiceFile::writeLineOwners() {
    if (lineOwners_->empty()) {
        RemoveFile(lineOwnersPath());
        return;
    }
    std::string bytes;
    for (const LineOwner& owner : *lineOwners_)
        bytes += Text(owner.account.size()) + " " + owner.account + owner.text + "\r\n";
    // A record that cannot be written leaves its line to whichever account closes next, as
    // lines typed by hand; the invoice's own write reports the disk's trouble.
    WriteFileAtomically(lineOwnersPath(), bytes, appFolder_);
}

std::vector<RunningInvoiceFile::OtherLine> RunningInvoiceFile::othersLines(
    const std::string& name) {
    std::vector<OtherLine> others;
    // Every line the closing account's: nothing to match, the document is not even read.
    const std::vector<LineOwner>& owners = lineOwners();
    if (std::all_of(owners.begin(), owners.end(),
                    [&](const LineOwner& owner) { return owner.account == name; }))
        return others;
    std::map<std::string, std::size_t> index;
    std::vector<std::string> texts;
    std::vector<std::deque<const LineOwner*>> byText;
    for (const LineOwner& owner : owners) {
        const auto [it, added] = index.emplace(owner.text, texts.size());
        if (added) {
            texts.push_back(owner.text);
            byText.emplace_back();
        }
        byText[it->second].push_back(&owner);
    }
    // Records and lines come in the same order; a line typed or changed by hand has none.
    const std::vector<std::size_t> found = document_.findParagraphs(texts);
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (found[i] == InvoiceDocument::npos || byText[found[i]].empty()) continue;
        const LineOwner* owner = byText[found[i]].front();
        byText[found[i]].pop_front();
        if (owner->account != name) others.push_back({i, *owner});
    }
    return others;
}

void RunningInvoiceFile::keepLines(const std::vector<OtherLine>& lines) {
    // As the program appends them: plain, whatever the template or a failed load left.
    if (!lines.empty()) document_.setAppendAttributes(CharAttributes{});
    lineOwners_.emplace();
    std::vector<std::string> texts;
    for (const OtherLine& line : lines) {
        lineOwners_->push_back(line.owner);
        texts.push_back(line.owner.text);
    }
    document_.appendParagraphs(texts);
    writeLineOwners();
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
    appendLine(when, duration, amount, accountName);
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
    const CharAttributes attributes = document_.appendAttributes();
    const std::vector<OtherLine> others = othersLines(providerName);
    std::vector<std::size_t> leftOut;
    for (const OtherLine& line : others) leftOut.push_back(line.index);
    std::optional<std::size_t> paragraphs;
    try {
        paragraphs = ArchiveInvoice(account, providerName, appFolder_, document_, locale_, leftOut);
        // The last connection's line is filed now: its record has nothing more to give, and
        // must not give the line again to the next period after a crash.
        if (!RemoveFile(connectionRecordPath())) throw FileError::create(connectionRecordPath());
        connectionEnded_ = false;
    } catch (...) {
        // Nothing closed: the invoice and the account stay as they were. The file is written
        // all the same, as a retry of an earlier write that may have failed.
        if (paragraphs) document_.truncateParagraphs(*paragraphs);
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
    keepLines(others);
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
        // The invoice still holding the filed lines starts afresh from the template, with
        // the other accounts' lines.
        if (done && Hash(Contents(path())) == v[2]) {
            const std::vector<OtherLine> others = othersLines(name);
            try {
                document_.loadRtf(appFolder_ + "base.rtf");
            } catch (const std::exception& e) {
                document_.truncateParagraphs(0);
                if (report_) report_(e);
            }
            keepLines(others);
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
                appendLine(when, duration, amount, name);
                done = SaveReporting() && done;
            }
        }
        if (done) RemoveFile(connectionRecordPath());
    }
}

}  // namespace tallimer
