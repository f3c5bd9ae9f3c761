#include "tools/database_check.h"

#include <sqlite3.h>

#include <string_view>

#include "data/database.h"
#include "data/engine_error.h"

namespace quelvar::tools {

SqliteConnection OpenDatabaseFile(const std::string& path, int flags) {
  if (path.empty() || path.find('\0') != std::string::npos) ThrowEngineError(SQLITE_CANTOPEN);
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  SqliteConnection connection(raw);
  if (rc != SQLITE_OK) {
    if (raw) ThrowEngineError(raw);
    ThrowEngineError(rc);
  }
  sqlite3_busy_timeout(raw, Database::kBusyTimeoutMs);
  return connection;
}

void RunStatement(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowEngineError(db);
}

std::vector<std::string> IntegrityCheckRows(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &raw, nullptr) != SQLITE_OK) ThrowEngineError(db);
  SqliteStatement statement(raw);
  std::vector<std::string> rows;
  for (;;) {
    const int rc = sqlite3_step(raw);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) ThrowEngineError(db);
    const unsigned char* text = sqlite3_column_text(raw, 0);
    rows.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
  }
  return rows;
}

bool IntegrityCheckPassed(const std::vector<std::string>& rows) {
  if (rows.empty()) return true;
  if (rows.size() != 1) return false;
  const std::string_view text = rows.front();
  return text.size() == 2 && (text[0] == 'o' || text[0] == 'O') && (text[1] == 'k' || text[1] == 'K');
}

}  // namespace quelvar::tools
