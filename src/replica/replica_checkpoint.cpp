// The checkpoint (the log folded back once every replica holds it) and the stop's last shipment.

#include "replica/replica_worker.h"

#include <sqlite3.h>

#include <algorithm>

#include "data/connect_settings.h"
#include "data/writer_lock.h"

namespace quelvar::replica {

using namespace std::chrono_literals;
using namespace worker;

void Replicator::Worker::Begin() {
  std::lock_guard lock(mutex_);
  flushing_ = false;
  ending_ = false;
  const std::string path = *database_.get();
  if (path.empty() || database_.Connections().Journal() == JournalChoice::kRollback) return;
  try {
    Connect(path);
  } catch (const std::exception &failure) {
    LocalProblem(failure.what());  // the tracker tries again
  }
}

void Replicator::Worker::Flush() {
  std::unique_lock lock(mutex_);
  try {
    if (connection_ && head_.known) Track();
  } catch (const std::exception &) {
    // The stop goes on; the next start resumes the generation or begins one.
  }
  flushing_ = true;
  wake_.notify_all();
  wake_.wait_for(lock, kFlushLimit, [this] { return !Unsent(); });
  ending_ = true;
  wake_.notify_all();
}

bool Replicator::Worker::Lagging() const {
  for (const Replica &r : replicas_) {
    if (!r.generation.empty() && !r.away && !Current(r)) return true;
  }
  return false;
}

bool Replicator::Worker::Unsent() const {
  for (const Replica &r : replicas_) {
    if (!r.generation.empty() && !r.away && (r.snapshot || (head_.known && !Current(r)))) return true;
  }
  return false;
}

std::uint32_t Replicator::Worker::Residual() const {
  std::uint32_t most = 0;
  for (const Replica &r : replicas_) {
    if (r.generation.empty() || r.away) continue;
    const std::uint32_t at = r.headLog == head_.log ? r.position.frame : 0;
    most = std::max(most, head_.position.frame - std::min(at, head_.position.frame));
  }
  return most;
}

void Replicator::Worker::Checkpoint() {
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

bool Replicator::Worker::Forced() const {
  return std::uint64_t(head_.position.frame) * head_.position.header.FrameBytes() >= settings_.logLimitBytes;
}

}  // namespace quelvar::replica
