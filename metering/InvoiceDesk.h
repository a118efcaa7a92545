#pragma once
// The invoice manager as the metering session uses it. Each call does nothing unless overridden,
// so the session works before the manager exists and tests fake only what they watch.
#include <string>

#include "accounts/AccountFiles.h"
#include "accounts/Comptes.h"
#include "support/Date.h"
#include "timevalues/Time.h"

namespace tallimer {

class InvoiceDesk {
  public:
    virtual ~InvoiceDesk() = default;
    // The toolbar's "Gère les factures".
    virtual void openManager() {}
    // Writes the running invoice to its file; false when it could not be.
    virtual bool saveRunning() { return true; }
    // A line of the named account and a period closing, each written to the file at once.
    virtual void addLine(DateTime /*when*/, msTIME /*duration*/, float /*amount*/,
                         const std::string& /*name*/) {}
    virtual void closePeriod(Account& /*account*/, const std::string& /*providerName*/,
                             DateTime /*today*/) {}
    // The connection in progress (before the minute save) and its end: its line so far,
    // its account with its name, and the overall totals. The running invoice recovers from
    // a crash through them at the next start.
    virtual void recordConnection(DateTime /*when*/, msTIME /*duration*/, float /*amount*/,
                                  const std::string& /*name*/, const Account& /*account*/,
                                  TotalTime /*overall*/, float /*overallCost*/) {}
    virtual void endConnection(DateTime /*when*/, msTIME /*duration*/, float /*amount*/,
                               const std::string& /*name*/, const Account& /*account*/,
                               TotalTime /*overall*/, float /*overallCost*/) {}
    virtual void accountsSaved() {}
    // What a crash left half done, finished once at start.
    virtual void recover(AccountCollection& /*accounts*/, OverallState& /*state*/) {}
};

}  // namespace tallimer
