// The tracker: reads the commits added to the log, starts and resumes generations, takes the snapshots.

#include "replica/replica_worker.h"

#include <sqlite3.h>

#include <algorithm>

#include "data/connect_settings.h"
#include "data/engine_error.h"
#include "data/writer_lock.h"
#include "replica/database_image.h"
#include "replica/generation_end.h"
#include "replica/replica_objects.h"

namespace quelvar::replica {

using namespace std::chrono_literals;
using namespace worker;

namespace {

void Exec(sqlite3 *db, const char *sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowEngineError(db);
}

}  // namespace

bool Replicator::Worker::Step() {
  const std::string path = *database_.get();
  ConnectionPool &pool = database_.Connections();
  if (path.empty()) return false;
  if (pool.Journal() == JournalChoice::kRollback) {
    RollbackStep(path);
    std::lock_guard lock(mutex_);
    Publish();
    return false;
  }
  // A restore or an integrity check is under way: the next generation
  // starts from what it leaves. The count is read first, so a hold that
  // begins after it is still under way below.
  const std::uint64_t maintenance = pool.MaintenanceCount();
  if (pool.InMaintenance()) return false;
  try {
    {
      std::lock_guard lock(mutex_);
      if (path != connectionPath_ || !connection_) Connect(path);
      if (maintenance != maintenanceSeen_) {
        maintenanceSeen_ = maintenance;
        BreakContinuity("a restore or an integrity check changed the database file");
      }
      if (head_.known && Track()) wake_.notify_all();
    }
    StartGenerations();
    Checkpoint();
  } catch (const std::exception &failure) {
    std::lock_guard lock(mutex_);
    LocalProblem(failure.what());
  }
  std::lock_guard lock(mutex_);
  Publish();
  return false;
}

std::string Replicator::Worker::NextGenerationName(std::int64_t takenMs) {
  lastGenerationMs_ = std::max(takenMs, lastGenerationMs_ + 1);
  return NewGenerationName(lastGenerationMs_);
}

void Replicator::Worker::Connect(const std::string &path) {
  connection_.reset();
  connection_ = OpenConfigured(path, JournalChoice::kWriteAheadLog, LockingChoice::kNormal, false);
  Exec(connection_.get(), "PRAGMA wal_autocheckpoint = 0");
  // A first read: from here on this connection keeps the file from being
  // folded as the last one closes.
  Exec(connection_.get(), "SELECT count(*) FROM sqlite_master");
  connectionPath_ = path;
  maintenanceSeen_ = database_.Connections().MaintenanceCount();
  BreakContinuity("start");
  localProblem_.clear();
}

void Replicator::Worker::LocalProblem(const std::string &what) {
  connection_.reset();
  if (what == localProblem_) return;
  localProblem_ = what;
  console_.log("Replication --> " + what);
}

void Replicator::Worker::EndGeneration(Replica &r, const std::string &why) {
  r.generation.clear();
  r.snapshot.reset();
  r.pending.reset();
  r.why = why;
  ++r.epoch;
}

void Replicator::Worker::BreakContinuity(const std::string &why) {
  ++breaks_;
  head_ = Head{};
  marks_.clear();
  restartPoint_.reset();
  previousEnd_.reset();
  for (Replica &r : replicas_) {
    if (!r.generation.empty()) EndGeneration(r, why);
  }
}

void Replicator::Worker::LoseContinuity(Replica &r, const std::string &why) {
  if (r.generation.empty()) return;
  console_.log(r.setting.name + " --> " + r.setting.target + " lost continuity: " + why +
               "; a new generation starts when it is back");
  EndGeneration(r, why);
}

bool Replicator::Worker::MaintenanceUnseen() const {
  const ConnectionPool &pool = database_.Connections();
  return pool.InMaintenance() || pool.MaintenanceCount() != maintenanceSeen_;
}

bool Replicator::Worker::Track() {
  const auto header = ReadWalHeader(WalPath());
  if (!header) return false;
  if (!header->SameLog(head_.position.header) || head_.position.header.pageSize == 0) {
    const bool noLogYet = head_.position.header.pageSize == 0;
    const bool folded = restartPoint_ && restartPoint_->log == head_.log &&
                        restartPoint_->position.frame == head_.position.frame &&
                        restartPoint_->position.header.SameLog(head_.position.header);
    if (!noLogYet && !folded) {
      if (MaintenanceUnseen()) return false;
      BreakContinuity("the log was restarted without the replicator");
      return false;
    }
    previousEnd_ = LogEnd{head_.log, head_.position};
    restartPoint_.reset();
    head_.position = StartOf(*header);
    ++head_.log;
  }
  const WalRun run = ReadCommittedFrames(WalPath(), head_.position, kTrackBytes, false);
  if (run.commits.empty()) return false;
  const std::int64_t now = NowMs();
  for (const WalCommit &c : run.commits) marks_.push_back({head_.log, c.frame, now});
  head_.position.frame = run.commits.back().frame;
  head_.position.checksum = run.commits.back().checksum;
  return true;
}

void Replicator::Worker::TrackToEnd(int mostReads) {
  for (int read = 0; read < mostReads && head_.known && Track(); ++read) {
  }
}

bool Replicator::Worker::GenerationWanted() {
  std::lock_guard lock(mutex_);
  return std::any_of(replicas_.begin(), replicas_.end(),
                     [this](const Replica &r) { return r.generation.empty() && MayTry(r); });
}

void Replicator::Worker::TrackQuietly() {
  try {
    Track();
  } catch (const std::exception &) {
  }
}

void Replicator::Worker::BeginGeneration(Replica &r, const std::string &generation, std::int64_t takenMs,
                                         std::shared_ptr<const std::vector<std::uint8_t>> snapshot, const Head &at) {
  r.announce = r.generation.empty();
  ++r.epoch;
  r.generation = generation;
  r.generationStartMs = takenMs;
  r.snapshot = std::move(snapshot);
  r.pending.reset();
  r.nextSegment = 1;
  r.headLog = at.log;
  r.segmentLog = 0;
  r.position = at.position;
}

void Replicator::Worker::ResumeGenerations() {
  std::vector<std::size_t> candidates;
  WalHeader header;
  std::string wal;
  {
    std::lock_guard lock(mutex_);
    if (!head_.known || head_.position.header.pageSize == 0) return;
    for (std::size_t i = 0; i < replicas_.size(); ++i) {
      Replica &r = replicas_[i];
      if (r.resumeTried || !r.generation.empty() || !MayTry(r)) continue;
      r.resumeTried = true;
      candidates.push_back(i);
    }
    header = head_.position.header;
    wal = WalPath();
  }
  for (const std::size_t i : candidates) {
    // Its store outside the lock: a replica's shipper does not use it while
    // the replica has no generation.
    Replica &r = replicas_[i];
    std::optional<GenerationEnd> end;
    try {
      end = NewestGenerationEnd(*r.store, kResumeLimit);
    } catch (const std::exception &) {
      continue;  // the new generation's upload reports what fails
    }
    if (!end || !end->position.header.SameLog(header)) continue;
    const WalRun run =
        ReadCommittedFrames(wal, StartOf(header), std::size_t(end->position.frame) * header.FrameBytes(), false);
    const bool holds = std::any_of(run.commits.begin(), run.commits.end(), [&end](const WalCommit &c) {
      return c.frame == end->position.frame && c.checksum == end->position.checksum;
    });
    std::lock_guard lock(mutex_);
    if (!holds || !r.generation.empty() || !head_.known || !head_.position.header.SameLog(header)) continue;
    ++r.epoch;
    r.generation = end->name;
    r.generationStartMs = GenerationStart(end->name).value_or(NowMs());
    r.snapshot.reset();
    r.pending.reset();
    r.announce = false;
    r.nextSegment = end->nextSegment;
    r.headLog = head_.log;
    r.segmentLog = end->logNumber;
    r.position = end->position;
    r.lastPruneMs = 0;
    console_.log(r.setting.name + ": " + r.setting.target + " generation " + end->name +
                 " resumed (the log still holds its last commit)");
    wake_.notify_all();
  }
}

void Replicator::Worker::StartGenerations() {
  if (!GenerationWanted()) return;
  ConnectionPool &pool = database_.Connections();
  {
    // Most of a long log is read before the writers are held (a bounded
    // number of reads: the saves go on meanwhile).
    std::lock_guard lock(mutex_);
    if (!head_.known) {
      head_ = Head{};
      head_.known = true;
      if (const auto header = ReadWalHeader(WalPath())) head_.position = StartOf(*header);
    }
    TrackToEnd(16);
  }
  ResumeGenerations();
  if (!GenerationWanted()) return;
  WriterHold hold;
  if (!hold.Acquire(pool.Writers(), std::chrono::milliseconds(kBusyTimeoutMs))) return;
  std::unique_lock lock(mutex_);
  // A restore or an integrity check may have begun before it holds the
  // writers: the snapshot waits for what it leaves.
  if (MaintenanceUnseen()) return;
  TrackToEnd();
  if (!head_.known) return;  // the log was restarted behind its back: next step
  // The snapshot's read transaction starts while no writer runs: it sees
  // exactly the commits up to the head.
  Exec(connection_.get(), "BEGIN");
  struct EndRead {
    sqlite3 *db;
    ~EndRead() { sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr); }
  } endRead{connection_.get()};
  Exec(connection_.get(), "SELECT count(*) FROM sqlite_master");
  const Head at = head_;
  const std::uint64_t breaks = breaks_;
  lock.unlock();
  hold.Release();
  const std::vector<std::uint8_t> image = DatabaseImage(connection_.get());
  // The read ends before the uploads (it would keep the log from being
  // folded); `endRead` ends it on a failure.
  sqlite3_exec(connection_.get(), "ROLLBACK", nullptr, nullptr, nullptr);

  SnapshotInfo info;
  if (at.position.header.pageSize != 0) info.header = at.position.header;
  info.frame = at.position.frame;
  info.checksum = at.position.checksum;
  info.takenMs = NowMs();
  auto object = std::make_shared<const std::vector<std::uint8_t>>(SealObject(SnapshotBody(info, image)));
  lock.lock();
  // Continuity broke, or maintenance began, meanwhile: the next step starts over.
  if (breaks != breaks_ || MaintenanceUnseen()) return;
  const std::string generation = NextGenerationName(info.takenMs);
  for (Replica &r : replicas_) {
    if (r.generation.empty() && MayTry(r)) BeginGeneration(r, generation, info.takenMs, object, at);
  }
  wake_.notify_all();
}

void Replicator::Worker::RollbackStep(const std::string &path) {
  {
    std::lock_guard lock(mutex_);
    if (!rollbackNoted_) {
      rollbackNoted_ = true;
      console_.log("Replication: with the rollback journal (DiarioRollback) there is no log to ship; each replica "
                   "gets a new snapshot when the database has changed, at most every " +
                   std::to_string(settings_.interval.count() * 60 / 1000) + " s");
      connection_.reset();
      connectionPath_.clear();
      BreakContinuity("start");
    }
  }
  const auto counter = ChangeCounter(path);
  if (!counter) return;
  const auto now = Clock::now();
  const bool changed = !lastCounter_ || *lastCounter_ != *counter;
  bool due = false;
  {
    std::lock_guard lock(mutex_);
    for (Replica &r : replicas_) {
      if (r.generation.empty() || changed) due = due || MayTry(r);
    }
  }
  // At most once a minute (with the default interval of a second).
  const auto every = settings_.interval * 60;
  if (!due || (lastRollbackSnapshot_ != Clock::time_point{} && now - lastRollbackSnapshot_ < every)) {
    return;
  }
  lastRollbackSnapshot_ = now;
  try {
    SqliteConnection db = OpenConfigured(path, JournalChoice::kRollback, LockingChoice::kNormal, false);
    Exec(db.get(), "BEGIN");
    Exec(db.get(), "SELECT count(*) FROM sqlite_master");
    const std::vector<std::uint8_t> image = DatabaseImage(db.get());
    Exec(db.get(), "ROLLBACK");
    SnapshotInfo info;
    info.takenMs = NowMs();
    auto object = std::make_shared<const std::vector<std::uint8_t>>(SealObject(SnapshotBody(info, image)));
    std::lock_guard lock(mutex_);
    const std::string generation = NextGenerationName(info.takenMs);
    for (Replica &r : replicas_) {
      if (MayTry(r)) BeginGeneration(r, generation, info.takenMs, object, Head{});
    }
    lastCounter_ = counter;
    wake_.notify_all();
  } catch (const std::exception &failure) {
    std::lock_guard lock(mutex_);
    LocalProblem(failure.what());
  }
}

void Replicator::Worker::Publish() {
  std::lock_guard lock(figures_.mutex);
  const std::int64_t now = NowMs();
  for (std::size_t i = 0; i < replicas_.size(); ++i) {
    const Replica &r = replicas_[i];
    ReplicaFigures::One &f = figures_.replicas[i];
    const bool stored = !r.generation.empty() && !r.snapshot;  // its generation can be restored
    f.lastShipMs = r.lastShipMs;
    f.generationStartMs = stored ? r.generationStartMs : 0;
    f.errors = r.errors;
    f.away = r.away || (r.generation.empty() && !localProblem_.empty());
    f.reason = r.away ? r.reason : (stored ? "" : "no generation yet");
    f.lagSeconds = 0;
    f.lagBytes = 0;
    if (!head_.known) continue;
    if (r.generation.empty()) {
      f.lagBytes = std::uint64_t(head_.position.frame) * head_.position.header.FrameBytes();
    } else if (!Current(r)) {
      const std::uint32_t from = r.headLog == head_.log ? r.position.frame : 0;
      f.lagBytes = std::uint64_t(head_.position.frame - std::min(from, head_.position.frame)) *
                   head_.position.header.FrameBytes();
      if (const Mark *m = OldestUnshipped(r)) f.lagSeconds = double(now - m->seenMs) / 1000.0;
    }
  }
}

}  // namespace quelvar::replica
