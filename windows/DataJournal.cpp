#include "windows/DataJournal.h"

#include <QDeadlineTimer>

#include "platform/JournalSqlite.h"
#include "richtext/InvoiceHistory.h"

namespace tallimer {

namespace {

class HistorySlices : public SlicedTask {
  public:
    HistorySlices(ConnectionJournal& journal, Session& session)
        : import_(journal, session.appFolder(), session.accounts(),
                  session.names().defaultConnectionName(), session.now()) {}
    bool step(int milliseconds) override { return import_.step(QDeadlineTimer(milliseconds)); }
    std::string doneText() const override {
        const std::size_t unrecognised = import_.result().unrecognised;
        if (!unrecognised) return {};
        return "Import de l'historique\u00A0: " + UnrecognisedLinesText(unrecognised);
    }

  private:
    HistoryImport import_;
};

}  // namespace

OpenedJournal OpenDataJournal(Session& session) {
    OpenedJournal opened;
    auto journal = std::make_unique<SqliteJournal>(session.appFolder() + "journal.sqlite");
    if (journal->historyPending())
        opened.historyImport = std::make_unique<HistorySlices>(*journal, session);
    opened.journal = std::move(journal);
    return opened;
}

}  // namespace tallimer
