#pragma once
// The running invoice kept in step with its file "temp.rtf": every change the program makes
// (a line appended, a period closed) is written at once, so a crash loses none of it. Two
// small records beside the state file cover what a crash could still cut in two: a period
// closing ("cloture.inf") and the connection in progress ("connexion.inf"). A third one,
// "lignes.inf", says which account each line the program wrote belongs to, so a closing
// files the closing account's lines and leaves the others' for their own closings.
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "accounts/AccountFiles.h"
#include "accounts/Comptes.h"
#include "invoices/InvoiceDocument.h"
#include "support/Date.h"
#include "support/Locale.h"
#include "timevalues/Time.h"

namespace tallimer {

class RunningInvoiceFile {
  public:
    // Receives the errors of writing "temp.rtf" that happen after a change already made.
    using Report = std::function<void(const std::exception&)>;

    RunningInvoiceFile(InvoiceDocument& document, std::string appFolder, Locale locale,
                       Report report);

    InvoiceDocument& document() { return document_; }
    const std::string& appFolder() const { return appFolder_; }
    std::string path() const { return appFolder_ + "temp.rtf"; }
    std::string closingRecordPath() const { return appFolder_ + "cloture.inf"; }
    std::string connectionRecordPath() const { return appFolder_ + "connexion.inf"; }
    std::string lineOwnersPath() const { return appFolder_ + "lignes.inf"; }

    // Appends the line of that account (none: a line of nobody's, filed by the next closing)
    // and writes the file. A write that fails is reported; the line stays.
    void AddLine(DateTime when, msTIME duration, float amount,
                 const std::optional<std::string>& accountName = std::nullopt);
    // The connection in progress as of now, written just before the accounts are saved: its
    // line so far, and its account's and the overall totals.
    bool RecordConnection(DateTime when, msTIME duration, float amount,
                          const std::string& accountName, const Account& account,
                          TotalTime overallDuration, float overallCost);
    // The line of a connection that has ended. Its record is written first with the line's
    // exact values, and removed once the line and the accounts are both on disk
    // (AccountsSaved): a crash in between neither loses nor doubles anything.
    void EndConnection(DateTime when, msTIME duration, float amount, const std::string& accountName,
                       const Account& account, TotalTime overallDuration, float overallCost);
    // The accounts and the state file have all been written.
    void AccountsSaved();

    // Closes the account's period: its archive holds the running invoice but the lines the
    // program wrote for other accounts, which stay in the new running invoice after the
    // template. The archive is written whole first; if it cannot be, nothing changes and
    // FileError::create is raised. Then the account's file is written,
    // then "temp.rtf": every crash point leaves the old state or, through the record, the
    // new one. The template's own error is raised after the writes; a failed write is
    // reported.
    void ClosePeriod(Account& account, const std::string& providerName, DateTime today);

    // At start, once the accounts are loaded: finishes a closing that a crash interrupted,
    // and gives a connection that a crash ended its line and its totals as of its last
    // record. Writes what it changed (with SaveAll for the accounts and the state).
    void Recover(AccountCollection& accounts, OverallState& state);

    // Writes the file atomically; raises FileError::create.
    void Save();
    // Writes the file; a failure is reported and gives false.
    bool SaveReporting();

  private:
    struct LineOwner {
        std::string account, text;
    };
    struct OtherLine {
        std::size_t index;
        LineOwner owner;
    };
    void finishClosing();
    void settleConnection();
    // Records the line's account, then appends the line.
    void appendLine(DateTime when, msTIME duration, float amount,
                    const std::optional<std::string>& accountName);
    // The running invoice's lines the program wrote for another account than name.
    std::vector<OtherLine> othersLines(const std::string& name);
    // Puts those lines back after the template, with their owners.
    void keepLines(const std::vector<OtherLine>& lines);
    const std::vector<LineOwner>& lineOwners();
    void writeLineOwners();

    InvoiceDocument& document_;
    std::string appFolder_;
    Locale locale_;
    Report report_;
    // A closed period whose account file or invoice file has not reached the disk yet.
    Account* closingAccount_ = nullptr;
    std::string closingName_;
    bool closingRecorded_ = false;
    bool closingAccountSaved_ = false;
    // The record of a connection that has ended, removed once its line and the accounts
    // are on disk.
    bool connectionEnded_ = false;
    bool lineOnDisk_ = false;
    bool accountsOnDisk_ = false;
    // Each line's account, in the order written; read from its file at the first need.
    std::optional<std::vector<LineOwner>> lineOwners_;
};

}  // namespace tallimer
