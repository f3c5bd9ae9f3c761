#pragma once
// Database: the service module's own connection to the SQLite file
// (`Database1`).
//
// The connection is taken on first use (the first statement or the first
// transaction) and kept until Close or destruction; a module that runs no
// statement never touches the file. Taking it:
//   1. the configured path is read at that moment (`Database1BeforeConnect`),
//      so a configuration change reaches the next connection;
//   2. the connection comes from the server's pool (connection_pool.h): an
//      idle one already open on that path, or a new one opened with the
//      connect settings (connect_settings.h): busy timeout 10000 ms, then
//      cache_size, locking_mode, synchronous, journal_mode and foreign_keys.
// A failing step leaves the module without a connection and raises an
// EngineError; the next use tries again. An empty path is refused with the
// engine's "unable to open database file".
//
// Writers: StartTransaction and StartTransactionImmediate first queue on the
// pool's writer lock (writer_lock.h) and hold it until the transaction ends
// (Commit, Rollback, Close, or the engine ending it on an error); a statement
// that writes outside a transaction holds it while it runs (WriteScope). A
// writer that waits longer than the busy timeout fails with
// "[SQLite] database is locked", as the engine's busy handler would.
//
// Transactions: StartTransaction begins a deferred transaction ("BEGIN");
// StartTransactionImmediate takes the engine's write lock at once ("BEGIN
// IMMEDIATE"). Rollback with no open transaction does nothing. Closing rolls
// back an open transaction and gives the connection back to the pool.
//
// Not thread-safe: one connection belongs to one request.

#include <functional>
#include <memory>
#include <string>

#include "data/connection_pool.h"
#include "data/sqlite_handles.h"
#include "data/writer_lock.h"

namespace quelvar {

class Database {
 public:
  // Busy timeout of every connection, in milliseconds.
  static constexpr int kBusyTimeoutMs = quelvar::kBusyTimeoutMs;

  // `pathSource` gives the configured database path; it is called at connect.
  // Without a pool the module opens (and closes) a connection of its own,
  // with the default settings, and its writers queue on a lock of its own.
  explicit Database(std::function<std::string()> pathSource, ConnectionPool *pool = nullptr);
  ~Database();

  Database(const Database &) = delete;
  Database &operator=(const Database &) = delete;

  // The open connection, taking it first when needed. Raises EngineError.
  sqlite3 *Handle();
  bool Connected() const { return loan_.connection != nullptr; }
  // Rolls back an open transaction and gives the connection back; nothing
  // when not connected.
  void Close() noexcept;

  void StartTransaction();           // "BEGIN"
  void StartTransactionImmediate();  // "BEGIN IMMEDIATE"
  void Commit();                     // "COMMIT"
  void Rollback();                   // "ROLLBACK" when a transaction is open
  bool InTransaction() const;

  // Holds the writer lock while a statement that writes runs outside a
  // transaction; does nothing for a read or inside a transaction (whose
  // bracket already holds it). Raises EngineError "database is locked" after
  // the busy timeout.
  class WriteScope {
   public:
    WriteScope(Database &database, sqlite3_stmt *statement);

   private:
    WriterHold hold_;
  };

  // The pool the module's connection comes from.
  ConnectionPool &Pool() const { return *pool_; }

 private:
  void Begin(const char *sql);
  void Run(const char *sql);
  void QueueAsWriter();
  // Lets the writer lock go once no transaction is open.
  void ReleaseWriterIfDone() noexcept;

  std::function<std::string()> pathSource_;
  std::unique_ptr<ConnectionPool> ownPool_;
  ConnectionPool *pool_;
  ConnectionPool::Loan loan_;
  WriterHold writer_;
};

}  // namespace quelvar
