#include "data/connect_settings.h"

#include "data/engine_error.h"

namespace quelvar {

namespace {

constexpr const char *kSettings[2][2][kConnectPragmaCount] = {
    // write-ahead log
    {{"PRAGMA cache_size = 10000", "PRAGMA locking_mode = Normal", "PRAGMA synchronous = Normal",
      "PRAGMA journal_mode = WAL", "PRAGMA foreign_keys = On"},
     {"PRAGMA cache_size = 10000", "PRAGMA locking_mode = Exclusive", "PRAGMA synchronous = Normal",
      "PRAGMA journal_mode = WAL", "PRAGMA foreign_keys = On"}},
    // rollback journal
    {{"PRAGMA cache_size = 10000", "PRAGMA locking_mode = Normal", "PRAGMA synchronous = Full",
      "PRAGMA journal_mode = Delete", "PRAGMA foreign_keys = On"},
     {"PRAGMA cache_size = 10000", "PRAGMA locking_mode = Exclusive", "PRAGMA synchronous = Full",
      "PRAGMA journal_mode = Delete", "PRAGMA foreign_keys = On"}},
};

}  // namespace

const char *const *ConnectPragmas(JournalChoice journal, LockingChoice locking) {
  return kSettings[journal == JournalChoice::kRollback ? 1 : 0][locking == LockingChoice::kExclusive ? 1 : 0];
}

SqliteConnection OpenConfigured(const std::string &path, JournalChoice journal, LockingChoice locking, bool create) {
  if (path.empty() || path.find('\0') != std::string::npos) ThrowEngineError(SQLITE_CANTOPEN);
  sqlite3 *raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  SqliteConnection connection(raw);
  if (rc != SQLITE_OK) {
    if (raw) ThrowEngineError(raw);
    ThrowEngineError(rc);
  }
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  // No statement may corrupt the file by hand, read addresses of the engine
  // or load code.
  sqlite3_db_config(raw, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, nullptr);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  const char *const *pragmas = ConnectPragmas(journal, locking);
  for (int i = 0; i < kConnectPragmaCount; ++i)
    if (sqlite3_exec(raw, pragmas[i], nullptr, nullptr, nullptr) != SQLITE_OK) ThrowEngineError(raw);
  return connection;
}

}  // namespace quelvar
