#pragma once
// The data folder's journal as the session opens it: SQLite beside the data, with the
// invoices' history taken into it by slices while it is new.
#include "metering/Session.h"

namespace tallimer {

OpenedJournal OpenDataJournal(Session& session);

}  // namespace tallimer
