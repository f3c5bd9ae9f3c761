// The shippers: each sends its replica's snapshot and segments, and prunes what the retention no longer needs.

#include "replica/replica_worker.h"

#include <algorithm>

#include "replica/replica_objects.h"

namespace quelvar::replica {

using namespace std::chrono_literals;
using namespace worker;

namespace {

std::string Seconds(Clock::duration d) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(d).count()) + " s";
}

}  // namespace

void Replicator::Worker::Ship(std::size_t index) {
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

bool Replicator::Worker::Current(const Replica &r) const {
  return !r.generation.empty() && r.headLog == head_.log && r.position.frame == head_.position.frame;
}

const Replicator::Worker::Mark *Replicator::Worker::OldestUnshipped(const Replica &r) const {
  auto it = std::lower_bound(marks_.begin(), marks_.end(), std::pair(r.headLog, r.position.frame + 1),
                             [](const Mark &m, const std::pair<std::uint32_t, std::uint32_t> &key) {
                               return std::pair(m.log, m.frame) < key;
                             });
  return it == marks_.end() ? nullptr : &*it;
}

std::int64_t Replicator::Worker::SeenMs(std::uint32_t log, std::uint32_t frame) const {
  auto it = std::lower_bound(marks_.begin(), marks_.end(), std::pair(log, frame),
                             [](const Mark &m, const std::pair<std::uint32_t, std::uint32_t> &key) {
                               return std::pair(m.log, m.frame) < key;
                             });
  return it != marks_.end() && it->log == log && it->frame == frame ? it->seenMs : NowMs();
}

void Replicator::Worker::Away(Replica &r, const std::string &reason) {
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

void Replicator::Worker::Reached(Replica &r, const std::string &how) {
  if (!r.away) return;
  r.away = false;
  r.reason.clear();
  console_.log(r.setting.name + ": " + r.setting.target + " is back after " + Seconds(Clock::now() - r.awaySince) +
               "; " + how);
}

bool Replicator::Worker::Due(Replica &r, bool force) {
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

std::string Replicator::Worker::Upload(Replica &r, std::unique_lock<std::mutex> &lock, const std::string &key,
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

bool Replicator::Worker::ShipSnapshot(Replica &r, std::unique_lock<std::mutex> &lock) {
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

bool Replicator::Worker::ShipSegment(Replica &r, std::unique_lock<std::mutex> &lock) {
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

bool Replicator::Worker::Prune(Replica &r, std::unique_lock<std::mutex> &lock) {
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

void Replicator::Worker::RemoveExpired(ReplicaStore &store, const std::string &current, std::int64_t horizon) {
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
    if (const auto part = GenerationPartOf(key); part && part->first < *cover) store.Remove(key, kListLimit);
  }
}

}  // namespace quelvar::replica
