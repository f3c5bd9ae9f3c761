#include "tools/online_copy.h"

#include <sqlite3.h>

#include "data/engine_error.h"
#include "data/sqlite_handles.h"
#include "tools/database_check.h"

namespace quelvar::tools {

void OnlineCopy(const std::string& source, const std::string& destination, CopyTarget target) {
  SqliteConnection from = OpenDatabaseFile(source, SQLITE_OPEN_READONLY);
  const int destFlags = SQLITE_OPEN_READWRITE | (target == CopyTarget::kExisting ? 0 : SQLITE_OPEN_CREATE);
  SqliteConnection to = OpenDatabaseFile(destination, destFlags);
  if (target == CopyTarget::kScratch) {
    RunStatement(to.get(), "PRAGMA journal_mode = Off");
    RunStatement(to.get(), "PRAGMA synchronous = Off");
  }

  sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
  if (!backup) ThrowEngineError(to.get());
  const int stepResult = sqlite3_backup_step(backup, -1);
  const int finishResult = sqlite3_backup_finish(backup);
  if (stepResult == SQLITE_DONE && finishResult == SQLITE_OK) return;
  if (finishResult != SQLITE_OK) ThrowEngineError(to.get());
  ThrowEngineError(stepResult);
}

}  // namespace quelvar::tools
