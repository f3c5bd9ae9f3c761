#include "data/database.h"

#include <chrono>
#include <utility>

#include "data/engine_error.h"

namespace quelvar {

namespace {

constexpr std::chrono::milliseconds kWriterWait{Database::kBusyTimeoutMs};

// Runs `sql` to completion on `db`, raising the engine's error.
void RunOn(sqlite3 *db, const char *sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowEngineError(db);
}

}  // namespace

Database::Database(std::function<std::string()> pathSource, ConnectionPool *pool)
    : pathSource_(std::move(pathSource)),
      ownPool_(pool ? nullptr : std::make_unique<ConnectionPool>(0)),
      pool_(pool ? pool : ownPool_.get()) {}

Database::~Database() { Close(); }

sqlite3 *Database::Handle() {
  if (!loan_.connection) {
    const std::string path = pathSource_ ? pathSource_() : std::string();
    loan_ = pool_->Borrow(path);
  }
  return loan_.connection.get();
}

void Database::Close() noexcept {
  if (loan_.connection && sqlite3_get_autocommit(loan_.connection.get()) == 0)
    sqlite3_exec(loan_.connection.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  writer_.Release();
  if (loan_.connection) pool_->Return(std::move(loan_));
  loan_ = {};
}

void Database::Run(const char *sql) { RunOn(Handle(), sql); }

void Database::QueueAsWriter() {
  if (!writer_.Acquire(pool_->Writers(), kWriterWait)) ThrowEngineError(SQLITE_BUSY);
}

void Database::ReleaseWriterIfDone() noexcept {
  if (!InTransaction()) writer_.Release();
}

void Database::Begin(const char *sql) {
  Handle();  // an open failure raises before queueing
  QueueAsWriter();
  try {
    Run(sql);
  } catch (...) {
    ReleaseWriterIfDone();
    throw;
  }
}

void Database::StartTransaction() { Begin("BEGIN"); }

void Database::StartTransactionImmediate() { Begin("BEGIN IMMEDIATE"); }

void Database::Commit() {
  try {
    Run("COMMIT");
  } catch (...) {
    ReleaseWriterIfDone();
    throw;
  }
  ReleaseWriterIfDone();
}

void Database::Rollback() {
  if (!InTransaction()) {
    writer_.Release();  // the engine may have ended the transaction on an error
    return;
  }
  try {
    Run("ROLLBACK");
  } catch (...) {
    ReleaseWriterIfDone();
    throw;
  }
  writer_.Release();
}

bool Database::InTransaction() const { return loan_.connection && sqlite3_get_autocommit(loan_.connection.get()) == 0; }

Database::WriteScope::WriteScope(Database &database, sqlite3_stmt *statement) {
  if (database.InTransaction() || sqlite3_stmt_readonly(statement)) return;
  if (!hold_.Acquire(database.pool_->Writers(), kWriterWait)) ThrowEngineError(SQLITE_BUSY);
}

}  // namespace quelvar
