#pragma once
// Continuous replication of the live database to up to two replicas (folders
// or S3-compatible buckets). A tracker thread reads the commits added to the
// log, takes the snapshots and folds the log back; each replica has a
// shipping thread of its own that sends its snapshot and segments, so a slow
// replica, or one receiving a new snapshot, holds back none of the other's
// segments. No thread ever waits on a replica while holding the writers'
// lock, except the checkpoint for the last few frames (at most a second).
//
// A generation is a snapshot of the database followed by an ordered series of
// log segments. The server folds the log back into the database itself (the
// engine's automatic checkpoint is off on every connection: see
// ConnectionPool::SetServerCheckpoints), and only once every replica that is
// in continuity holds every frame: the last frames are shipped and the
// checkpoint runs under the writers' lock, so no frame is folded before it is
// shipped. The replicator keeps a connection of its own open, so the file is
// never folded as its last connection closes.
//
// Each poll (every 50 ms at most) reads the commits added to the log; a
// replica is sent a segment once its oldest unshipped commit has waited half
// the interval. A generation counts as in continuity from its snapshot on,
// before the snapshot is stored: the log is not folded past what it lacks.
// Whatever breaks continuity starts a new generation with a new snapshot for
// the replicas concerned: the start of the server, a restore, the integrity
// check or compaction (a maintenance hold on the pool), a log restarted
// without the replicator's checkpoint, a replica that was away past the log
// bound, a snapshot older than a day. After a start on a log that still
// holds the last commit of a replica's newest generation (a crash left it
// unfolded), the replica goes on with that generation instead.
//
// The tracker, the shippers and the checkpoint share one inside
// (replica_worker.h), each in a file of its own.
//
// A replica that fails is "away": the saves go on, the log is kept for it up
// to the bound, one log line at the start of the outage and one at recovery.
// Past the bound the server folds the log anyway and that replica starts a new
// generation when it is back. A generation is removed once a later complete
// one started before the retention, never the current one.
//
// With the rollback journal there is no log to ship: each replica gets a new
// generation (a snapshot) when the database has changed, at most every 60
// intervals (a minute by default).
//
// Once a day (and a few minutes after start) a drill restores the newest
// replica into a temporary file and checks it; the outcome is logged.
//
// Commit times, generation names, the daily snapshot and the retention go by
// `ReplicaSettings::clockMs`.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "replica/replica_figures.h"
#include "replica/replica_settings.h"
#include "replica/replica_store.h"
#include "data/database_path.h"
#include "data/operator_console.h"

namespace quelvar::replica {

class Replicator {
 public:
  // `stores` in the order of `settings.replicas`. Log lines go to `console`.
  Replicator(ReplicaSettings settings, std::vector<std::unique_ptr<ReplicaStore>> stores,
             std::shared_ptr<DatabasePath> database, OperatorConsole &console);
  ~Replicator();  // Stop()
  Replicator(const Replicator &) = delete;
  Replicator &operator=(const Replicator &) = delete;

  // Turns the engine's automatic checkpoint off on the pool and starts the
  // thread.
  void Start();
  // Ends the thread (after the step in progress), ships what is left to the
  // reachable replicas, and gives checkpoints back to the engine.
  void Stop();

  // The figures for GET /metrics, Prometheus text, one block per replica.
  std::string MetricsText() const;
  // "" when every replica is current; otherwise one line per replica that lags.
  std::string HealthNote() const;
  // One replica as the operator sees it: its name, where it ships to, and a
  // sentence on its state (lag, last shipment, the reason it is away).
  using State = ReplicaState;
  std::vector<State> States() const;

 private:
  struct Replica;
  class Worker;

  ReplicaSettings settings_;
  std::shared_ptr<DatabasePath> database_;
  OperatorConsole &console_;
  std::unique_ptr<Worker> worker_;
  std::thread thread_;                 // the tracker
  std::vector<std::thread> shippers_;  // one per replica
  std::thread drill_;
  std::mutex stopCall_;  // one Stop() at a time
  std::mutex stopMutex_;
  std::condition_variable stopWake_;
  bool stopping_ = false;
  std::shared_ptr<ReplicaFigures> figures_;

  void Drill();
};

}  // namespace quelvar::replica
