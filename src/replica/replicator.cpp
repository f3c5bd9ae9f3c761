#include "replica/replicator.h"

#include <sqlite3.h>

#include <algorithm>
#include <deque>
#include <optional>

#include "data/connect_settings.h"
#include "data/engine_error.h"
#include "data/writer_lock.h"
#include "replica/database_image.h"
#include "replica/generation_end.h"
#include "replica/replica_drill.h"
#include "replica/replica_objects.h"
#include "replica/wal_format.h"

namespace quelvar::replica {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPoll = 50ms;
constexpr std::uint32_t kCheckpointFrames = 1000;  // as the engine's automatic checkpoint
constexpr std::size_t kTrackBytes = 64u << 20;
constexpr std::size_t kSegmentBytes = 16u << 20;
constexpr auto kSegmentLimit = 10s;
constexpr auto kLockedShipLimit = 1s;
// The longest the stop waits for the replicas to receive what is left.
constexpr auto kFlushLimit = 20s;
// The most frames a checkpoint ships while the writers wait for it.
constexpr std::uint32_t kLockedResidualFrames = 256;
constexpr auto kListLimit = 60s;
constexpr auto kRetryFirst = 1s;
constexpr auto kRetryMost = 15s;
constexpr std::int64_t kPruneEveryMs = 3600 * 1000;

std::string Seconds(Clock::duration d) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(d).count()) + " s";
}

void Exec(sqlite3 *db, const char *sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowEngineError(db);
}

}  // namespace

struct Replicator::Replica {
  ReplicaTarget setting;
  std::unique_ptr<ReplicaStore> store;
  // The generation; empty when a new one is needed.
  std::string generation;
  std::string why = "start";  // why a new generation is needed
  std::int64_t generationStartMs = 0;
  // The generation's snapshot until it is stored; nothing of the generation
  // is sent before it. Sent again as it was after a failure.
  std::shared_ptr<const std::vector<std::uint8_t>> snapshot;
  bool announce = false;  // log the generation's start once the snapshot is stored
  // One more at every change of generation: an upload begun in an older one
  // changes nothing when it ends.
  std::uint64_t epoch = 0;
  std::uint64_t nextSegment = 1;
  std::uint32_t headLog = 0;     // the tracked log it stands in
  std::uint32_t segmentLog = 0;  // the log's number within its generation
  WalPosition position;          // shipped up to here
  // Outage.
  bool away = false;
  Clock::time_point awaySince;
  Clock::time_point nextTry;
  Clock::duration backoff = kRetryFirst;
  std::string reason;
  // A segment whose upload failed: sent again as it was (an object is never
  // written with other bytes), before anything after it.
  struct Pending {
    std::shared_ptr<const std::vector<std::uint8_t>> object;
    WalCommit last;
  };
  std::optional<Pending> pending;
  // Figures.
  std::int64_t lastShipMs = 0;
  std::uint64_t errors = 0;
  std::int64_t lastPruneMs = 0;  // on the settings' clock
  bool resumeTried = false;      // whether its newest generation was looked at after the start
};

// The tracker (one thread: it reads the commits added to the log, takes the
// snapshots, folds the log back) and the shippers (one thread per replica:
// each sends its replica's snapshot and segments, so a slow replica or a
// snapshot going out never holds the other replica back). They share the
// state below under `mutex_`; no store request and no read of the database
// is made while it is held.
class Replicator::Worker {
 public:
  Worker(const ReplicaSettings &settings, std::vector<Replica> replicas, DatabasePath &database,
         OperatorConsole &console, ReplicaFigures &figures)
      : settings_(settings), database_(database), console_(console), figures_(figures),
        replicas_(std::move(replicas)) {}

  std::size_t Replicas() const { return replicas_.size(); }

  // Before the threads start.
  void Begin() {
    std::lock_guard lock(mutex_);
    flushing_ = false;
    ending_ = false;
  }

  // Ships what is left to every reachable replica (at the stop, once the
  // tracker has ended), then lets the shippers end.
  void Flush() {
    std::unique_lock lock(mutex_);
    try {
      if (connection_ && head_.known) Track();
    } catch (const std::exception &) {
      // The stop goes on; the next start begins a new generation anyway.
    }
    flushing_ = true;
    wake_.notify_all();
    wake_.wait_for(lock, kFlushLimit, [this] { return !Unsent(); });
    ending_ = true;
    wake_.notify_all();
  }

  // The tracker's round; true when a reachable replica is still far behind
  // (the next round should follow at once).
  bool Step() {
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

  // The shipper of replica `index`, until Flush() has ended.
  void Ship(std::size_t index) {
    Replica &r = replicas_[index];
    std::unique_lock lock(mutex_);
    while (!ending_) {
      bool worked = false;
      try {
        // The commits since the tracker's last look: a tracker busy with a
        // snapshot holds no segment back.
        if (head_.known && !connectionPath_.empty()) TrackQuietly();
        worked = ShipSnapshot(r, lock) || ShipSegment(r, lock) || Prune(r, lock);
      } catch (const std::exception &failure) {
        if (!lock.owns_lock()) lock.lock();
        Away(r, failure.what());
      }
      if (!lock.owns_lock()) lock.lock();
      if (worked) {
        wake_.notify_all();
        continue;
      }
      wake_.wait_for(lock, std::min<std::chrono::milliseconds>(kPoll, settings_.interval / 2));
    }
  }

 private:
  struct Head {
    bool known = false;
    std::uint32_t log = 0;
    WalPosition position;  // an all-zero header: no log yet
  };
  struct Mark {
    std::uint32_t log;
    std::uint32_t frame;
    std::int64_t seenMs;
  };
  struct LogEnd {
    std::uint32_t log;
    WalPosition position;
  };

  std::string WalPath() const { return connectionPath_ + "-wal"; }
  std::int64_t NowMs() const { return settings_.NowMs(); }

  // A name later than every one this server gave before.
  std::string NextGenerationName(std::int64_t takenMs) {
    lastGenerationMs_ = std::max(takenMs, lastGenerationMs_ + 1);
    return NewGenerationName(lastGenerationMs_);
  }

  void Connect(const std::string &path) {
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

  // A failure on this machine (the database cannot be read): logged once
  // while it lasts; the next round starts over with a new connection.
  void LocalProblem(const std::string &what) {
    connection_.reset();
    if (what == localProblem_) return;
    localProblem_ = what;
    console_.log("Replication --> " + what);
  }

  // The replica leaves its generation: a new one is needed.
  static void EndGeneration(Replica &r, const std::string &why) {
    r.generation.clear();
    r.snapshot.reset();
    r.pending.reset();
    r.why = why;
    ++r.epoch;
  }

  // Every replica starts a new generation; tracking starts again.
  void BreakContinuity(const std::string &why) {
    ++breaks_;
    head_ = Head{};
    marks_.clear();
    restartPoint_.reset();
    previousEnd_.reset();
    for (Replica &r : replicas_) {
      if (!r.generation.empty()) EndGeneration(r, why);
    }
  }

  void LoseContinuity(Replica &r, const std::string &why) {
    if (r.generation.empty()) return;
    console_.log(r.setting.name + " --> " + r.setting.target + " lost continuity: " + why +
                 "; a new generation starts when it is back");
    EndGeneration(r, why);
  }

  // Whether a restore or an integrity check holds the database or has held
  // it since the tracker last looked: the tracker then breaks the generation
  // itself, giving that reason, and the others leave the log to it.
  bool MaintenanceUnseen() const {
    const ConnectionPool &pool = database_.Connections();
    return pool.InMaintenance() || pool.MaintenanceCount() != maintenanceSeen_;
  }

  // Reads the commits added to the log since the head; true when there were.
  bool Track() {
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

  // Track() until the head is the log's end: under the writers' lock, the
  // commit a snapshot or a checkpoint is taken at.
  void TrackToEnd() {
    while (head_.known && Track()) {
    }
  }

  // Track() where a failure is the tracker's to report.
  void TrackQuietly() {
    try {
      Track();
    } catch (const std::exception &) {
    }
  }

  bool Current(const Replica &r) const {
    return !r.generation.empty() && r.headLog == head_.log && r.position.frame == head_.position.frame;
  }

  // The first commit mark after the replica's position.
  const Mark *OldestUnshipped(const Replica &r) const {
    auto it = std::lower_bound(marks_.begin(), marks_.end(), std::pair(r.headLog, r.position.frame + 1),
                               [](const Mark &m, const std::pair<std::uint32_t, std::uint32_t> &key) {
                                 return std::pair(m.log, m.frame) < key;
                               });
    return it == marks_.end() ? nullptr : &*it;
  }

  std::int64_t SeenMs(std::uint32_t log, std::uint32_t frame) const {
    auto it = std::lower_bound(marks_.begin(), marks_.end(), std::pair(log, frame),
                               [](const Mark &m, const std::pair<std::uint32_t, std::uint32_t> &key) {
                                 return std::pair(m.log, m.frame) < key;
                               });
    return it != marks_.end() && it->log == log && it->frame == frame ? it->seenMs : NowMs();
  }

  bool MayTry(const Replica &r) const { return !r.away || Clock::now() >= r.nextTry; }

  void Away(Replica &r, const std::string &reason) {
    ++r.errors;
    r.reason = reason;
    if (!r.away) {
      r.away = true;
      r.awaySince = Clock::now();
      r.backoff = kRetryFirst;
      console_.log(r.setting.name + " --> " + r.setting.target + " is unreachable: " + reason +
                   "; saves go on, and the log is kept for it up to " +
                   std::to_string(settings_.logLimitBytes >> 20) + " MiB");
    } else {
      r.backoff = std::min<Clock::duration>(r.backoff * 2, kRetryMost);
    }
    r.nextTry = Clock::now() + r.backoff;
  }

  void Reached(Replica &r, const std::string &how) {
    if (!r.away) return;
    r.away = false;
    r.reason.clear();
    console_.log(r.setting.name + ": " + r.setting.target + " is back after " + Seconds(Clock::now() - r.awaySince) +
                 "; " + how);
  }

  // Whether `r` has commits to be shipped now (all of them with `force`):
  // it follows the log into the next one where the replicator folded it.
  bool Due(Replica &r, bool force) {
    if (r.generation.empty() || r.snapshot || !head_.known || !MayTry(r)) return false;
    if (r.pending) return true;
    if (r.headLog != head_.log) {
      if (previousEnd_ && previousEnd_->log == r.headLog && r.headLog + 1 == head_.log &&
          previousEnd_->position.frame == r.position.frame &&
          previousEnd_->position.header.SameLog(r.position.header)) {
        r.headLog = head_.log;
        ++r.segmentLog;
        r.position = StartOf(head_.position.header);
      } else {
        LoseContinuity(r, "the log moved on without it");
        return false;
      }
    }
    if (r.position.frame >= head_.position.frame) return false;
    const Mark *oldest = OldestUnshipped(r);
    return force || !oldest || NowMs() - oldest->seenMs >= settings_.interval.count() / 2;
  }

  // Stores an object, `lock` released meanwhile; the failure's text, or "".
  static std::string Upload(Replica &r, std::unique_lock<std::mutex> &lock, const std::string &key,
                            const std::vector<std::uint8_t> &object, std::chrono::milliseconds limit) {
    lock.unlock();
    std::string failure;
    try {
      r.store->Put(key, object, limit);
    } catch (const std::exception &e) {
      failure = e.what();
      if (failure.empty()) failure = "upload failed";
    }
    lock.lock();
    return failure;
  }

  // Sends the generation's snapshot; false when there was none to send.
  bool ShipSnapshot(Replica &r, std::unique_lock<std::mutex> &lock) {
    if (!r.snapshot || !MayTry(r)) return false;
    const auto object = r.snapshot;
    const std::string generation = r.generation;
    const std::uint64_t epoch = r.epoch;
    const std::string failure =
        Upload(r, lock, SnapshotKey(generation), *object, std::chrono::milliseconds(60000 + object->size() / 1000));
    if (r.epoch != epoch) return true;
    if (!failure.empty()) {
      Away(r, failure);
      return true;
    }
    r.snapshot.reset();
    r.lastShipMs = NowMs();
    const bool wasAway = r.away;
    Reached(r, "new generation " + generation);
    if (r.announce && !wasAway) {
      console_.log(r.setting.name + ": " + r.setting.target + " generation " + generation + " started (" + r.why +
                   ")");
    }
    r.announce = false;
    r.why = "start";
    r.lastPruneMs = 0;
    return true;
  }

  // Sends the replica's next segment if it is due; false when none was.
  bool ShipSegment(Replica &r, std::unique_lock<std::mutex> &lock) {
    if (!Due(r, flushing_ || urgent_ || catchUp_)) return false;
    const std::uint64_t epoch = r.epoch;
    std::shared_ptr<const std::vector<std::uint8_t>> object;
    WalCommit last;
    if (r.pending) {
      object = r.pending->object;
      last = r.pending->last;
    } else {
      const WalPosition from = r.position;
      const std::string wal = WalPath();
      lock.unlock();
      WalRun run = ReadCommittedFrames(wal, from, kSegmentBytes);
      lock.lock();
      if (r.epoch != epoch) return true;
      if (run.commits.empty()) {
        if (MaintenanceUnseen()) return false;
        LoseContinuity(r, "the log no longer holds its next frames");
        return true;
      }
      Segment segment;
      segment.number = r.nextSegment;
      segment.logNumber = r.segmentLog;
      segment.header = r.position.header;
      segment.firstFrame = r.position.frame + 1;
      segment.before = r.position.checksum;
      for (const WalCommit &commit : run.commits) {
        segment.commits.push_back({commit.frame - segment.firstFrame, SeenMs(r.headLog, commit.frame)});
      }
      segment.frames = std::move(run.frames);
      last = run.commits.back();
      lock.unlock();
      object = std::make_shared<const std::vector<std::uint8_t>>(SealSegment(segment));
      lock.lock();
      if (r.epoch != epoch) return true;
    }
    const std::string key = SegmentKey(r.generation, r.nextSegment);
    const std::string failure = Upload(r, lock, key, *object, kSegmentLimit);
    if (r.epoch != epoch) return true;
    if (!failure.empty()) {
      r.pending = Replica::Pending{object, last};
      Away(r, failure);
      return true;
    }
    r.pending.reset();
    r.position.frame = last.frame;
    r.position.checksum = last.checksum;
    ++r.nextSegment;
    r.lastShipMs = NowMs();
    Reached(r, "continuity kept");
    return true;
  }

  // Hands a new generation (its snapshot taken at `at`) to the replica.
  void BeginGeneration(Replica &r, const std::string &generation, std::int64_t takenMs,
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

  // Once after the start, for each replica without a generation: when the
  // log still holds the last commit of the replica's newest generation (the
  // server stopped without folding it: a crash), the replica goes on with
  // that generation from there. The commits after it that were not shipped
  // before the stop carry the time they are read now.
  void ResumeGenerations() {
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
      Replica &r = replicas_[i];
      std::optional<GenerationEnd> end;
      try {
        end = NewestGenerationEnd(*r.store, kListLimit);
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

  // New generations for the replicas that need one: the snapshot is taken
  // here, its upload left to each replica's shipper. From the snapshot on
  // the replica counts as in continuity (the log is not folded past what it
  // lacks).
  void StartGenerations() {
    {
      std::lock_guard lock(mutex_);
      bool any = false;
      for (Replica &r : replicas_) any = any || (r.generation.empty() && MayTry(r));
      if (!any) return;
    }
    ConnectionPool &pool = database_.Connections();
    {
      // Most of a long log is read before the writers are held.
      std::lock_guard lock(mutex_);
      if (!head_.known) {
        head_ = Head{};
        head_.known = true;
        if (const auto header = ReadWalHeader(WalPath())) head_.position = StartOf(*header);
      }
      TrackToEnd();
    }
    ResumeGenerations();
    {
      std::lock_guard lock(mutex_);
      bool any = false;
      for (Replica &r : replicas_) any = any || (r.generation.empty() && MayTry(r));
      if (!any) return;
    }
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

  // Whether a replica in continuity and reachable has commits to ship.
  bool Lagging() const {
    for (const Replica &r : replicas_) {
      if (!r.generation.empty() && !r.away && !Current(r)) return true;
    }
    return false;
  }

  // Whether a reachable replica still lacks something (at the stop).
  bool Unsent() const {
    for (const Replica &r : replicas_) {
      if (!r.generation.empty() && !r.away && (r.snapshot || (head_.known && !Current(r)))) return true;
    }
    return false;
  }

  // The most frames a reachable replica in continuity still lacks.
  std::uint32_t Residual() const {
    std::uint32_t most = 0;
    for (const Replica &r : replicas_) {
      if (r.generation.empty() || r.away) continue;
      const std::uint32_t at = r.headLog == head_.log ? r.position.frame : 0;
      most = std::max(most, head_.position.frame - std::min(at, head_.position.frame));
    }
    return most;
  }

  // Folds the log back once it is long enough and every replica in
  // continuity holds it (or the log passed its bound). The writers wait only
  // for the shippers to send the last few frames.
  void Checkpoint() {
    {
      std::unique_lock lock(mutex_);
      if (!head_.known || head_.position.header.pageSize == 0) return;
      if (head_.position.frame < kCheckpointFrames || Clock::now() < nextCheckpoint_) return;
      if (restartPoint_ && restartPoint_->position.frame == head_.position.frame) return;  // folded already
      if (!Forced()) {
        // Below the bound, only once every replica in continuity is
        // reachable and nearly current.
        // A replica whose snapshot is still going out cannot take segments
        // yet: the writers would wait for nothing.
        for (const Replica &r : replicas_) {
          if (!r.generation.empty() && (r.away || r.snapshot) && !Current(r)) return;
        }
        // The shippers first, outside the writers' lock: they send what they
        // have now rather than when it is due, so that even a steady stream
        // of saves leaves a moment with little to ship.
        if (Residual() > kLockedResidualFrames) {
          catchUp_ = true;
          wake_.notify_all();
          const bool caughtUp = wake_.wait_for(lock, kLockedShipLimit, [this] {
            return ending_ || Residual() <= kLockedResidualFrames;
          });
          catchUp_ = false;
          if (!caughtUp || ending_) return;
        }
      }
    }
    WriterHold hold;
    if (!hold.Acquire(database_.Connections().Writers(), 1000ms)) return;
    std::unique_lock lock(mutex_);
    if (MaintenanceUnseen()) return;
    TrackToEnd();
    if (!head_.known) return;
    const bool force = Forced();
    if (!force) {
      if (Residual() > 4 * kLockedResidualFrames) return;
      urgent_ = true;
      wake_.notify_all();
      wake_.wait_for(lock, kLockedShipLimit, [this] { return !Lagging() || ending_; });
      urgent_ = false;
      if (Lagging()) return;
    }
    for (Replica &r : replicas_) {
      if (!r.generation.empty() && !Current(r)) {
        LoseContinuity(r, "the log passed " + std::to_string(settings_.logLimitBytes >> 20) + " MiB before it had it");
      }
    }
    int logFrames = 0;
    int folded = 0;
    const int rc = sqlite3_wal_checkpoint_v2(connection_.get(), "main", SQLITE_CHECKPOINT_PASSIVE, &logFrames, &folded);
    if (rc == SQLITE_OK && logFrames == folded && static_cast<std::uint32_t>(logFrames) == head_.position.frame) {
      restartPoint_ = LogEnd{head_.log, head_.position};
    } else {
      nextCheckpoint_ = Clock::now() + 1s;  // a reader holds older pages: later
    }
    // Marks of logs every replica has left behind.
    std::uint32_t keepFrom = head_.log;
    for (const Replica &r : replicas_) {
      if (!r.generation.empty()) keepFrom = std::min(keepFrom, r.headLog);
    }
    while (!marks_.empty() && marks_.front().log < keepFrom) marks_.pop_front();
  }

  // Past the bound the log is folded whatever the replicas lack.
  bool Forced() const {
    return std::uint64_t(head_.position.frame) * head_.position.header.FrameBytes() >= settings_.logLimitBytes;
  }

  // Once an hour on the settings' clock: a generation older than the daily
  // snapshot is replaced, and the generations the retention no longer needs
  // are removed. False when nothing was due.
  bool Prune(Replica &r, std::unique_lock<std::mutex> &lock) {
    const std::int64_t now = NowMs();
    if (r.generation.empty() || r.snapshot || r.away || (r.lastPruneMs != 0 && now - r.lastPruneMs < kPruneEveryMs)) {
      return false;
    }
    r.lastPruneMs = now;
    // Snapshots at least daily: an old generation is replaced.
    if (now - r.generationStartMs >
        std::chrono::duration_cast<std::chrono::milliseconds>(settings_.snapshotEvery).count()) {
      EndGeneration(r, "daily snapshot");
      return true;
    }
    const std::string current = r.generation;
    const std::uint64_t epoch = r.epoch;
    lock.unlock();
    std::string failure;
    try {
      RemoveExpired(*r.store, current, now - std::int64_t(settings_.retentionDays) * 86400 * 1000);
    } catch (const std::exception &e) {
      failure = e.what();
    }
    lock.lock();
    if (!failure.empty() && r.epoch == epoch) Away(r, failure);
    return true;
  }

  // Removes the generations before the newest complete one that started
  // before `horizon`: a restore to any moment since then needs nothing
  // older. Never one after `current`.
  static void RemoveExpired(ReplicaStore &store, const std::string &current, std::int64_t horizon) {
    const std::vector<std::string> keys = store.List(std::string(kGenerationsFolder), kListLimit);
    // A generation without its snapshot cannot be restored (a crash cut its
    // upload short): it covers nothing.
    std::optional<std::string> cover;
    for (const auto &[name, has] : GenerationsIn(keys)) {
      if (has.snapshot && *GenerationStart(name) < horizon) cover = name;
      if (name == current) break;
    }
    if (!cover) return;
    for (const std::string &key : keys) {
      const std::string rest = key.substr(std::min(key.size(), kGenerationsFolder.size()));
      const std::string name = rest.substr(0, rest.find('/'));
      if (key.starts_with(kGenerationsFolder) && GenerationStart(name) && name < *cover) store.Remove(key, kListLimit);
    }
  }

  // The rollback journal: a snapshot when the file changed, at most once a
  // minute; the shippers send it.
  void RollbackStep(const std::string &path) {
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

  void Publish() {
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

  const ReplicaSettings &settings_;
  DatabasePath &database_;
  OperatorConsole &console_;
  ReplicaFigures &figures_;

  // Shared by the tracker and the shippers.
  std::mutex mutex_;
  std::condition_variable wake_;  // new commits, a replica that moved, the stop
  std::vector<Replica> replicas_;
  std::string connectionPath_;
  std::string localProblem_;
  Head head_;
  std::deque<Mark> marks_;
  std::optional<LogEnd> restartPoint_;  // the log was folded whole at this point
  std::optional<LogEnd> previousEnd_;   // where the previous log ended
  std::uint64_t breaks_ = 0;            // continuity broken so many times
  std::int64_t lastGenerationMs_ = 0;
  bool urgent_ = false;    // a checkpoint waits: every due commit goes now
  bool catchUp_ = false;   // a checkpoint is wanted: the shippers send what they have
  bool flushing_ = false;  // the stop: everything goes now
  bool ending_ = false;    // the shippers end

  // The tracker's own.
  SqliteConnection connection_;
  std::uint64_t maintenanceSeen_ = 0;
  Clock::time_point nextCheckpoint_;
  bool rollbackNoted_ = false;
  std::optional<std::uint32_t> lastCounter_;
  Clock::time_point lastRollbackSnapshot_;
};

Replicator::Replicator(ReplicaSettings settings, std::vector<std::unique_ptr<ReplicaStore>> stores,
                       std::shared_ptr<DatabasePath> database, OperatorConsole &console)
    : settings_(std::move(settings)), database_(std::move(database)), console_(console),
      figures_(std::make_shared<ReplicaFigures>()) {
  std::vector<Replica> replicas;
  for (std::size_t i = 0; i < settings_.replicas.size() && i < stores.size(); ++i) {
    Replica r;
    r.setting = settings_.replicas[i];
    r.store = std::move(stores[i]);
    replicas.push_back(std::move(r));
    ReplicaFigures::One figures;
    figures.name = settings_.replicas[i].name;
    figures.target = settings_.replicas[i].target;
    figures_->replicas.push_back(std::move(figures));
  }
  worker_ = std::make_unique<Worker>(settings_, std::move(replicas), *database_, console_, *figures_);
}

Replicator::~Replicator() { Stop(); }

void Replicator::Start() {
  if (thread_.joinable()) return;
  database_->Connections().SetServerCheckpoints(true);
  worker_->Begin();
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = false;
  }
  thread_ = std::thread([this] {
    std::unique_lock lock(stopMutex_);
    while (!stopping_) {
      lock.unlock();
      const bool behind = worker_->Step();
      lock.lock();
      if (behind) continue;
      stopWake_.wait_for(lock, std::min<std::chrono::milliseconds>(kPoll, settings_.interval / 2),
                         [this] { return stopping_; });
    }
  });
  for (std::size_t i = 0; i < worker_->Replicas(); ++i) shippers_.emplace_back([this, i] { worker_->Ship(i); });
  drill_ = std::thread([this] { Drill(); });
}

void Replicator::Stop() {
  // Two callers (the shutdown and the operator's restart of the replication)
  // may meet here: the second waits and then finds nothing left to stop.
  std::lock_guard whole(stopCall_);
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopWake_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
    worker_->Flush();
  }
  for (std::thread &shipper : shippers_) shipper.join();
  shippers_.clear();
  if (drill_.joinable()) drill_.join();
  database_->Connections().SetServerCheckpoints(false);
}

void Replicator::Drill() {
  auto wait = settings_.firstDrillAfter;
  for (;;) {
    {
      std::unique_lock lock(stopMutex_);
      if (stopWake_.wait_for(lock, wait, [this] { return stopping_; })) return;
    }
    wait = settings_.drillEvery;
    RunRestoreDrill(settings_, console_, *figures_);
  }
}

std::string Replicator::MetricsText() const { return figures_->MetricsText(settings_.NowMs()); }

std::string Replicator::HealthNote() const { return figures_->HealthNote(settings_.NowMs(), settings_.interval); }

std::vector<Replicator::State> Replicator::States() const { return figures_->States(settings_.NowMs()); }

}  // namespace quelvar::replica
