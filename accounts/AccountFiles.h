#pragma once
// The files the meter keeps between runs: the state file "tallimer.inf" and one file per
// account in "Comptes". Text in the old platform's text mode (CR LF written; on reading a
// Ctrl-Z ends the file) and numbers in the C conventions whatever the user's locale.
#include <string>
#include <string_view>

#include "accounts/Comptes.h"
#include "support/FileWrite.h"
#include "timevalues/Time.h"

namespace tallimer {

// Totals over every account and the exit question, kept in the state file.
struct OverallState {
    TotalTime overallDuration;
    float overallCost = 0;
    bool askOnExit = true;
};

// appFolder ends with the separator. Loading never fails and reports nothing: whatever
// cannot be read keeps the value it had. Saving creates "Comptes" when missing and writes
// every file whose content changes and that can be written, each one atomically; it
// reports nothing either, but says whether everything reached the disk (what did not is
// written at the next save); failed receives the first path not written, empty when none.
void LoadAll(const std::string& appFolder, AccountCollection& accounts, OverallState& state);
bool SaveAll(const std::string& appFolder, const AccountCollection& accounts,
             const OverallState& state, std::string* failed = nullptr);
// One account's file alone (a period closing commits it before anything else changes).
bool SaveAccountFile(const std::string& appFolder, const std::string& name, const Account& account);

// The sixteen lines of an account file, and the three values of the state file.
std::string WriteAccount(const Account& account);
std::string WriteState(const OverallState& state);

// Reads values in file order into the record as the stream extraction reads them: white
// space skipped, then the longest prefix that is a number of the field's kind ("12x" is 12,
// "1.5" read as an integer is 1 and the next value starts at ".5"). Type numbers are read
// through an int and keep its low 8 bits. Reading stops at the first value that is missing or
// does not start as its kind; every field from there on is left as it was (the defaults, in a
// new record).
void ReadAccount(std::string_view bytes, Account& account);
void ReadState(std::string_view bytes, OverallState& state);

// "%g" with 6 significant digits, as the files hold floats. A value that is not finite is
// written as the nearest finite float (NaN as 0), so the file stays readable.
std::string FileFloatText(float value);

// An account's file name: its name and ".fai". Only what Linux cannot hold in a file name
// ("/" and NUL) is escaped, as "\2F" and "\00", with "\" as the escape mark because no name
// the old platform could store contains one; a "\" of the name is written "\5C" only where
// it would otherwise read as an escape. Every other name keeps its plain file name, unless
// it is too long for one: see FileStem.
std::string AccountFileName(const std::string& name);
// The name escaped as above; when that is longer than maxBytes, its start (cut between
// characters) followed by "~" and 16 hex digits of a hash of the whole name. An account
// whose file name is shortened keeps its whole name in a side file, the account file's
// name with ".nom" instead of ".fai".
std::string FileStem(const std::string& name, std::size_t maxBytes);
// The account name of a file found in "Comptes": whether it ends in ".fai", in any letter
// case, and the name with that and the escapes undone.
bool AccountNameFromFileName(const std::string& fileName, std::string& name);
// For a shortened file name, the whole name from its side file in folder; false (name
// untouched) when the file is not one or the side file does not match it.
bool AccountFullName(const std::string& folder, const std::string& fileName, std::string& name);

}  // namespace tallimer
