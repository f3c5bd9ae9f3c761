#pragma once
// Small engine helpers shared by the backup and restore safety checks and the
// integrity check.

#include <string>
#include <vector>

#include "data/sqlite_handles.h"

namespace quelvar::tools {

// Opens `path` with `flags` and the module connection's busy timeout. Raises
// EngineError (an empty path or one holding a NUL as "unable to open").
SqliteConnection OpenDatabaseFile(const std::string& path, int flags);

// Runs `sql` (no rows expected). Raises EngineError.
void RunStatement(sqlite3* db, const char* sql);

// Every row of "PRAGMA integrity_check" as text. Raises EngineError.
std::vector<std::string> IntegrityCheckRows(sqlite3* db);

// True when the check passed: no row, or one row reading "ok" in any case.
bool IntegrityCheckPassed(const std::vector<std::string>& rows);

}  // namespace quelvar::tools
