#include "data/database.h"

#include <utility>

#include "data/engine_error.h"

namespace quelvar {

namespace {

// Run in this order right after the file is opened.
constexpr const char* kConnectPragmas[] = {
    "PRAGMA cache_size = 10000",
    "PRAGMA locking_mode = Normal",
    "PRAGMA synchronous = Off",
    "PRAGMA journal_mode = Delete",
    "PRAGMA foreign_keys = On",
};

// Runs `sql` to completion on `db`, raising the engine's error.
void RunOn(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowEngineError(db);
}

}  // namespace

Database::Database(std::function<std::string()> pathSource) : pathSource_(std::move(pathSource)) {}

Database::~Database() { Close(); }

sqlite3* Database::Handle() {
  if (!db_) Connect();
  return db_.get();
}

void Database::Connect() {
  const std::string path = pathSource_ ? pathSource_() : std::string();
  if (path.empty() || path.find('\0') != std::string::npos) ThrowEngineError(SQLITE_CANTOPEN);

  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  SqliteConnection connection(raw);
  if (rc != SQLITE_OK) {
    if (raw) ThrowEngineError(raw);
    ThrowEngineError(rc);
  }
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  for (const char* pragma : kConnectPragmas) RunOn(raw, pragma);
  db_ = std::move(connection);
}

void Database::Close() noexcept {
  if (!db_) return;
  if (sqlite3_get_autocommit(db_.get()) == 0) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  db_.reset();
}

void Database::Run(const char* sql) { RunOn(Handle(), sql); }

void Database::StartTransaction() { Run("BEGIN"); }

void Database::StartTransactionImmediate() { Run("BEGIN IMMEDIATE"); }

void Database::Commit() { Run("COMMIT"); }

void Database::Rollback() {
  if (!InTransaction()) return;
  Run("ROLLBACK");
}

bool Database::InTransaction() const { return db_ && sqlite3_get_autocommit(db_.get()) == 0; }

}  // namespace quelvar
