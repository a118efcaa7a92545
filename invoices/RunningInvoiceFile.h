#pragma once
// The running invoice kept in step with its file "temp.rtf": every change the program makes
// (a line appended, a period closed) is written at once, so a crash loses none of it. Two
// small records beside the state file cover what a crash could still cut in two: a period
// closing ("cloture.inf") and the connection in progress ("connexion.inf").
#include <exception>
#include <functional>
#include <string>

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

    // Appends the line and writes the file. A write that fails is reported; the line stays.
    void AddLine(DateTime when, msTIME duration, float amount);
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

    // Closes the account's period. The archive is written whole first; if it cannot be,
    // nothing changes and FileError::create is raised. Then the account's file is written,
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
    void finishClosing();
    void settleConnection();

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
};

}  // namespace tallimer
