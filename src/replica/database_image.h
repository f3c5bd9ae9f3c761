#pragma once
// The bytes of the database a snapshot holds, and the change counter that
// says whether a database in the rollback form changed.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/sqlite_handles.h"

namespace quelvar::replica {

// The database as the connection's open read transaction sees it (a copy
// made through the engine's backup, so the pages are consistent).
std::vector<std::uint8_t> DatabaseImage(sqlite3 *source);

// Bytes 24-27 of the database header of `file`: the file change counter;
// nullopt when the file cannot be read.
std::optional<std::uint32_t> ChangeCounter(const std::string &file);

}  // namespace quelvar::replica
