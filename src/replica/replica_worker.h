#pragma once
// The replicator's inside, shared by its three files: the tracker
// (replica_tracker.cpp), the shippers (replica_shipper.cpp), and the
// checkpoint with the stop (replica_checkpoint.cpp). Only the replicator's
// own files include it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data/sqlite_handles.h"
#include "replica/replicator.h"
#include "replica/wal_format.h"

namespace quelvar::replica::worker {

using Clock = std::chrono::steady_clock;

inline constexpr std::chrono::milliseconds kPoll{50};
inline constexpr std::uint32_t kCheckpointFrames = 1000;  // as the engine's automatic checkpoint
inline constexpr std::size_t kTrackBytes = 64u << 20;
inline constexpr std::size_t kSegmentBytes = 16u << 20;
inline constexpr std::chrono::seconds kSegmentLimit{10};
inline constexpr std::chrono::seconds kLockedShipLimit{1};
// The longest the stop waits for the replicas to receive what is left.
inline constexpr std::chrono::seconds kFlushLimit{20};
// The most frames a checkpoint ships while the writers wait for it.
inline constexpr std::uint32_t kLockedResidualFrames = 256;
inline constexpr std::chrono::seconds kListLimit{60};
// The longest the start waits on a replica to learn where its generation ends.
inline constexpr std::chrono::seconds kResumeLimit{10};
inline constexpr std::chrono::seconds kRetryFirst{1};
inline constexpr std::chrono::seconds kRetryMost{15};
inline constexpr std::int64_t kPruneEveryMs = 3600 * 1000;

}  // namespace quelvar::replica::worker

namespace quelvar::replica {

using worker::Clock;

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
  Clock::duration backoff = worker::kRetryFirst;
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

  // Before the threads start: opens the tracker's connection to the
  // database (it keeps the log from being folded as other connections close).
  void Begin();

  // Ships what is left to every reachable replica (at the stop, once the
  // tracker has ended), then lets the shippers end.
  void Flush();

  // The tracker's round; true when a reachable replica is still far behind
  // (the next round should follow at once).
  bool Step();

  // The shipper of replica `index`, until Flush() has ended.
  void Ship(std::size_t index);

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

  bool MayTry(const Replica &r) const { return !r.away || Clock::now() >= r.nextTry; }

  // The tracker: replica_tracker.cpp.

  // A name later than every one this server gave before.
  std::string NextGenerationName(std::int64_t takenMs);

  void Connect(const std::string &path);

  // A failure on this machine (the database cannot be read): logged once
  // while it lasts; the next round starts over with a new connection.
  void LocalProblem(const std::string &what);

  // The replica leaves its generation: a new one is needed.
  static void EndGeneration(Replica &r, const std::string &why);

  // Every replica starts a new generation; tracking starts again.
  void BreakContinuity(const std::string &why);

  void LoseContinuity(Replica &r, const std::string &why);

  // Whether a restore or an integrity check holds the database or has held
  // it since the tracker last looked: the tracker then breaks the generation
  // itself, giving that reason, and the others leave the log to it.
  bool MaintenanceUnseen() const;

  // Reads the commits added to the log since the head; true when there were.
  bool Track();

  // Track() until the head is the log's end (under the writers' lock: the
  // commit a snapshot or a checkpoint is taken at), or `mostReads` times.
  void TrackToEnd(int mostReads = std::numeric_limits<int>::max());

  // Whether a reachable replica has no generation.
  bool GenerationWanted();

  // Track() where a failure is the tracker's to report.
  void TrackQuietly();

  // Hands a new generation (its snapshot taken at `at`) to the replica.
  void BeginGeneration(Replica &r, const std::string &generation, std::int64_t takenMs,
                       std::shared_ptr<const std::vector<std::uint8_t>> snapshot, const Head &at);

  // Once after the start, for each replica without a generation: when the
  // log still holds the last commit of the replica's newest generation (the
  // server stopped without folding it: a crash), the replica goes on with
  // that generation from there. The commits after it that were not shipped
  // before the stop carry the time they are read now.
  void ResumeGenerations();

  // New generations for the replicas that need one: the snapshot is taken
  // here, its upload left to each replica's shipper. From the snapshot on
  // the replica counts as in continuity (the log is not folded past what it
  // lacks).
  void StartGenerations();

  // The rollback journal: a snapshot when the file changed, at most once a
  // minute; the shippers send it.
  void RollbackStep(const std::string &path);

  void Publish();

  // The shippers: replica_shipper.cpp.

  bool Current(const Replica &r) const;

  // The first commit mark after the replica's position.
  const Mark *OldestUnshipped(const Replica &r) const;

  std::int64_t SeenMs(std::uint32_t log, std::uint32_t frame) const;

  void Away(Replica &r, const std::string &reason);

  void Reached(Replica &r, const std::string &how);

  // Whether `r` has commits to be shipped now (all of them with `force`):
  // it follows the log into the next one where the replicator folded it.
  bool Due(Replica &r, bool force);

  // Stores an object, `lock` released meanwhile; the failure's text, or "".
  static std::string Upload(Replica &r, std::unique_lock<std::mutex> &lock, const std::string &key,
                            const std::vector<std::uint8_t> &object, std::chrono::milliseconds limit);

  // Sends the generation's snapshot; false when there was none to send.
  bool ShipSnapshot(Replica &r, std::unique_lock<std::mutex> &lock);

  // Sends the replica's next segment if it is due; false when none was.
  bool ShipSegment(Replica &r, std::unique_lock<std::mutex> &lock);

  // Once an hour on the settings' clock: a generation older than the daily
  // snapshot is replaced, and the generations the retention no longer needs
  // are removed. False when nothing was due.
  bool Prune(Replica &r, std::unique_lock<std::mutex> &lock);

  // Removes the generations before the newest complete one that started
  // before `horizon`: a restore to any moment since then needs nothing
  // older. Never one after `current`.
  static void RemoveExpired(ReplicaStore &store, const std::string &current, std::int64_t horizon);

  // The checkpoint and the stop: replica_checkpoint.cpp.

  // Whether a replica in continuity and reachable has commits to ship.
  bool Lagging() const;

  // Whether a reachable replica still lacks something (at the stop).
  bool Unsent() const;

  // The most frames a reachable replica in continuity still lacks.
  std::uint32_t Residual() const;

  // Folds the log back once it is long enough and every replica in
  // continuity holds it (or the log passed its bound). The writers wait only
  // for the shippers to send the last few frames.
  void Checkpoint();

  // Past the bound the log is folded whatever the replicas lack.
  bool Forced() const;

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

}  // namespace quelvar::replica
