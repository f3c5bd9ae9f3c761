#pragma once
// The open connections of one server to its database file, and the lock its
// writers queue on.
//
// A service module borrows one connection for its request and gives it back
// when it ends; the connection was opened with the connect settings
// (connect_settings.h), so a request does not pay for opening the file and
// reading the schema again. Before a connection is kept for the next request
// it is reset: every statement finalised, an open transaction rolled back,
// temporary tables, views, triggers and indexes dropped, attached files
// detached, any authorizer or progress handler removed, and the busy timeout
// and the per-connection settings restored. A
// connection that cannot be reset, or that was opened to another path, under
// another journal setting or before a Drain, is closed instead.
//
// At most `capacity` idle connections are kept; borrowing never waits: when
// none is idle a new one opens (and is closed on return when the pool is
// full).
//
// Drain() closes the idle connections and makes every connection on loan be
// closed when it comes back: the pool is drained when the configured path or
// journal setting changes, and around restore and the maintenance actions,
// so that no connection opened before the file was replaced or checked is
// used after it. A MaintenanceHold drains on creation and again on release,
// and stops connections being kept while it lives.
//
// Thread-safe.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "data/connect_settings.h"
#include "data/sqlite_handles.h"
#include "data/writer_lock.h"

namespace quelvar {

class ConnectionPool {
 public:
  static constexpr std::size_t kDefaultCapacity = 8;

  explicit ConnectionPool(std::size_t capacity = kDefaultCapacity);
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool &) = delete;
  ConnectionPool &operator=(const ConnectionPool &) = delete;

  // A borrowed connection: give it back with Return (or drop it to close it).
  struct Loan {
    SqliteConnection connection;
    std::string path;
    std::uint64_t generation = 0;
  };

  // An idle connection to `path`, or a new one opened with the connect
  // settings (the file created when missing). Raises EngineError.
  Loan Borrow(const std::string &path);
  // Resets the connection and keeps it for the next request, or closes it.
  void Return(Loan loan) noexcept;

  // The journal every connection is opened with; changing it drains the pool.
  void SetJournal(JournalChoice journal);
  JournalChoice Journal() const;

  // Closes the idle connections; those on loan are closed when returned.
  void Drain() noexcept;

  // Whether the server folds the write-ahead log back into the database
  // itself (continuous replication): every connection is then opened and
  // reset with "PRAGMA wal_autocheckpoint = 0", so no commit checkpoints
  // frames that have not been shipped yet. Changing it drains the pool.
  void SetServerCheckpoints(bool on);
  bool ServerCheckpoints() const;

  // How many maintenance holds have begun: an action that may replace the
  // file or fold the log (restore, integrity check, compaction) moves it.
  std::uint64_t MaintenanceCount() const;
  // Whether a maintenance hold lives now.
  bool InMaintenance() const;

  // Drains now and when it ends; while it lives returned connections are
  // closed.
  class MaintenanceHold {
   public:
    explicit MaintenanceHold(ConnectionPool &pool);
    ~MaintenanceHold();
    MaintenanceHold(const MaintenanceHold &) = delete;
    MaintenanceHold &operator=(const MaintenanceHold &) = delete;

   private:
    ConnectionPool &pool_;
  };

  // The lock writers hold around their write transaction.
  WriterLock &Writers() { return writers_; }

  std::size_t IdleCount() const;

 private:
  // Whether a returned loan may be kept (the pool's mutex held).
  bool Keeps(const Loan &loan) const;
  static bool Reset(sqlite3 *db, JournalChoice journal, bool serverCheckpoints) noexcept;

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  JournalChoice journal_ = JournalChoice::kWriteAheadLog;
  std::uint64_t generation_ = 0;
  std::string path_;  // the file of the latest borrow
  int maintenance_ = 0;
  std::uint64_t maintenanceCount_ = 0;
  bool serverCheckpoints_ = false;
  std::vector<Loan> idle_;
  WriterLock writers_;
};

}  // namespace quelvar
