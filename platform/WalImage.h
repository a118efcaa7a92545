#pragma once
// An SQLite database as a reader would see it, built in memory from its file and its write-ahead
// log without opening either through SQLite: SQLite's own readers of a WAL journal map its
// shared-memory index read-write, take locks and may create or truncate side files, which a
// command that promises to write nothing cannot do.
#include <optional>
#include <string>

namespace tallimer {

// The database file's bytes with every frame of the log's last committed transactions laid
// over them, and the header marked as a rollback journal so an in-memory copy opens alone.
// Nothing when the file cannot be read or is not a database.
std::optional<std::string> DatabaseImage(const std::string& path);

}  // namespace tallimer
