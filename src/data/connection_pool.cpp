#include "data/connection_pool.h"

#include <string_view>
#include <utility>

#include "data/engine_error.h"

namespace quelvar {

namespace {

// The engine's automatic checkpoint, off when the server checkpoints itself
// and back at its default otherwise (a statement may have changed it).
constexpr const char *kNoAutomaticCheckpoints = "PRAGMA wal_autocheckpoint = 0";
constexpr const char *kAutomaticCheckpoints = "PRAGMA wal_autocheckpoint = 1000";

// Runs `sql`; false on any failure.
bool Exec(sqlite3 *db, const std::string &sql) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The first column of every row of `sql`; false on any failure.
bool Column(sqlite3 *db, const char *sql, std::vector<std::string> &out) {
  sqlite3_stmt *raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) return false;
  SqliteStatement statement(raw);
  for (;;) {
    const int rc = sqlite3_step(raw);
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return false;
    const unsigned char *text = sqlite3_column_text(raw, 0);
    out.emplace_back(text ? reinterpret_cast<const char *>(text) : "");
  }
}

std::string Quoted(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

}  // namespace

ConnectionPool::ConnectionPool(std::size_t capacity) : capacity_(capacity) {}

ConnectionPool::~ConnectionPool() = default;

ConnectionPool::Loan ConnectionPool::Borrow(const std::string &path) {
  JournalChoice journal;
  std::uint64_t generation;
  bool serverCheckpoints;
  std::vector<Loan> closing;
  {
    std::lock_guard lock(mutex_);
    if (path != path_) {
      // Another file: what was open on the previous one goes.
      path_ = path;
      ++generation_;
      closing.swap(idle_);
    }
    for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
      if (it->path != path) continue;
      Loan loan = std::move(*it);
      idle_.erase(std::next(it).base());
      return loan;
    }
    journal = journal_;
    generation = generation_;
    serverCheckpoints = serverCheckpoints_;
  }
  Loan loan;
  loan.connection = OpenConfigured(path, journal, LockingChoice::kNormal, true);
  if (serverCheckpoints && !Exec(loan.connection.get(), kNoAutomaticCheckpoints)) ThrowEngineError(loan.connection.get());
  loan.path = path;
  loan.generation = generation;
  return loan;
}

void ConnectionPool::Return(Loan loan) noexcept {
  if (!loan.connection) return;
  {
    std::lock_guard lock(mutex_);
    if (!Keeps(loan)) return;  // closes it
  }
  JournalChoice journal;
  bool serverCheckpoints;
  {
    std::lock_guard lock(mutex_);
    journal = journal_;
    serverCheckpoints = serverCheckpoints_;
  }
  if (!Reset(loan.connection.get(), journal, serverCheckpoints)) return;
  std::lock_guard lock(mutex_);
  if (Keeps(loan)) idle_.push_back(std::move(loan));
}

bool ConnectionPool::Keeps(const Loan &loan) const {
  return loan.generation == generation_ && loan.path == path_ && maintenance_ == 0 && idle_.size() < capacity_;
}

bool ConnectionPool::Reset(sqlite3 *db, JournalChoice journal, bool serverCheckpoints) noexcept {
  try {
    while (sqlite3_stmt *statement = sqlite3_next_stmt(db, nullptr)) sqlite3_finalize(statement);
    if (sqlite3_get_autocommit(db) == 0 && !Exec(db, "ROLLBACK")) return false;
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_set_authorizer(db, nullptr, nullptr);
    sqlite3_progress_handler(db, 0, nullptr, nullptr);
    // The per-connection settings again, in case a statement changed them
    // (the journal mode belongs to the file and is left alone).
    const char *const *pragmas = ConnectPragmas(journal, LockingChoice::kNormal);
    for (int i = 0; i < kConnectPragmaCount; ++i) {
      if (std::string_view(pragmas[i]).starts_with("PRAGMA journal_mode")) continue;
      if (!Exec(db, pragmas[i])) return false;
    }
    if (!Exec(db, "PRAGMA query_only = 0")) return false;
    if (!Exec(db, serverCheckpoints ? kNoAutomaticCheckpoints : kAutomaticCheckpoints)) return false;

    std::vector<std::string> attached;
    if (!Column(db,
                "SELECT name FROM pragma_database_list WHERE name NOT IN "
                "('main', 'temp')",
                attached))
      return false;
    for (const std::string &name : attached)
      if (!Exec(db, "DETACH " + Quoted(name))) return false;

    std::vector<std::string> temporary;
    if (!Column(db,
                "SELECT type || ' ' || quote(name) FROM temp.sqlite_master "
                "WHERE type IN ('table', 'view') AND name NOT LIKE 'sqlite!_%' "
                "ESCAPE '!'",
                temporary))
      return false;
    // Dropping the tables and views drops their indexes and triggers too;
    // triggers on main tables declared as temporary stay, so drop them as well.
    std::vector<std::string> triggers;
    if (!Column(db, "SELECT quote(name) FROM temp.sqlite_master WHERE type = 'trigger'", triggers)) return false;
    for (const std::string &trigger : triggers)
      if (!Exec(db, "DROP TRIGGER IF EXISTS temp." + trigger)) return false;
    for (const std::string &object : temporary) {
      const std::size_t space = object.find(' ');
      if (!Exec(db, "DROP " + object.substr(0, space) + " IF EXISTS temp." + object.substr(space + 1))) return false;
    }
    return sqlite3_get_autocommit(db) != 0;
  } catch (...) {
    return false;
  }
}

void ConnectionPool::SetJournal(JournalChoice journal) {
  {
    std::lock_guard lock(mutex_);
    if (journal_ == journal) return;
    journal_ = journal;
  }
  Drain();
}

void ConnectionPool::SetServerCheckpoints(bool on) {
  {
    std::lock_guard lock(mutex_);
    if (serverCheckpoints_ == on) return;
    serverCheckpoints_ = on;
  }
  Drain();
}

bool ConnectionPool::ServerCheckpoints() const {
  std::lock_guard lock(mutex_);
  return serverCheckpoints_;
}

std::uint64_t ConnectionPool::MaintenanceCount() const {
  std::lock_guard lock(mutex_);
  return maintenanceCount_;
}

bool ConnectionPool::InMaintenance() const {
  std::lock_guard lock(mutex_);
  return maintenance_ > 0;
}

JournalChoice ConnectionPool::Journal() const {
  std::lock_guard lock(mutex_);
  return journal_;
}

void ConnectionPool::Drain() noexcept {
  std::vector<Loan> closing;
  {
    std::lock_guard lock(mutex_);
    ++generation_;
    closing.swap(idle_);
  }
  // `closing` closes its connections here, outside the lock.
}

ConnectionPool::MaintenanceHold::MaintenanceHold(ConnectionPool &pool) : pool_(pool) {
  {
    std::lock_guard lock(pool_.mutex_);
    ++pool_.maintenance_;
    ++pool_.maintenanceCount_;
  }
  pool_.Drain();
}

ConnectionPool::MaintenanceHold::~MaintenanceHold() {
  {
    std::lock_guard lock(pool_.mutex_);
    --pool_.maintenance_;
  }
  pool_.Drain();
}

std::size_t ConnectionPool::IdleCount() const {
  std::lock_guard lock(mutex_);
  return idle_.size();
}

}  // namespace quelvar
