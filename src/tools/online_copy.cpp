#include "tools/online_copy.h"

#include <sqlite3.h>

#include "data/database.h"
#include "data/engine_error.h"
#include "data/sqlite_handles.h"

namespace quelvar::tools {

namespace {

SqliteConnection OpenConnection(const std::string& path, int flags) {
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

}  // namespace

void OnlineCopy(const std::string& source, const std::string& destination, CopyTarget target) {
  SqliteConnection from = OpenConnection(source, SQLITE_OPEN_READONLY);
  const int destFlags = SQLITE_OPEN_READWRITE | (target == CopyTarget::kCreate ? SQLITE_OPEN_CREATE : 0);
  SqliteConnection to = OpenConnection(destination, destFlags);

  sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
  if (!backup) ThrowEngineError(to.get());
  const int stepResult = sqlite3_backup_step(backup, -1);
  const int finishResult = sqlite3_backup_finish(backup);
  if (stepResult == SQLITE_DONE && finishResult == SQLITE_OK) return;
  if (finishResult != SQLITE_OK) ThrowEngineError(to.get());
  ThrowEngineError(stepResult);
}

}  // namespace quelvar::tools
