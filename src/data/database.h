#pragma once
// Database: the service module's own connection to the SQLite file
// (`Database1`).
//
// The connection opens itself on first use (the first statement or the first
// transaction) and stays open until Close or destruction; a module that runs
// no statement never touches the file. Opening:
//   1. the configured path is read at that moment (`Database1BeforeConnect`),
//      so a configuration change reaches the next connection;
//   2. the file is opened for reading and writing, created empty when missing;
//   3. a busy timeout of 10000 ms: a statement that finds the file locked by
//      another connection retries for up to ten seconds, then fails with
//      "[SQLite] database is locked";
//   4. "PRAGMA cache_size = 10000", "PRAGMA locking_mode = Normal",
//      "PRAGMA synchronous = Off", "PRAGMA journal_mode = Delete",
//      "PRAGMA foreign_keys = On", one statement each, in this order.
// A failing step leaves the connection closed and raises an EngineError; the
// next use tries again. An empty path is refused with the engine's
// "unable to open database file" rather than opening a private temporary
// database that no other connection could see.
//
// Transactions: StartTransaction begins a deferred transaction (the write lock
// is taken by the first write); StartTransactionImmediate takes the write lock
// at once, waiting for it under the busy timeout. Rollback with no open
// transaction does nothing. Closing rolls back an open transaction.
//
// Not thread-safe: one connection belongs to one request.

#include <functional>
#include <string>

#include "data/sqlite_handles.h"

namespace quelvar {

class Database {
 public:
  // Busy timeout of every connection, in milliseconds.
  static constexpr int kBusyTimeoutMs = 10000;

  // `pathSource` gives the configured database path; it is called at connect.
  explicit Database(std::function<std::string()> pathSource);
  ~Database();

  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // The open connection, opening it first when needed. Raises EngineError.
  sqlite3* Handle();
  bool Connected() const { return db_ != nullptr; }
  // Rolls back an open transaction and closes; nothing when not connected.
  void Close() noexcept;

  void StartTransaction();           // "BEGIN"
  void StartTransactionImmediate();  // "BEGIN IMMEDIATE"
  void Commit();                     // "COMMIT"
  void Rollback();                   // "ROLLBACK" when a transaction is open
  bool InTransaction() const;

 private:
  void Connect();
  void Run(const char* sql);

  std::function<std::string()> pathSource_;
  SqliteConnection db_;
};

}  // namespace quelvar
