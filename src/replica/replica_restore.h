#pragma once
// Rebuilds the database from a replica, as of the newest commit at or before
// a moment.
//
// The newest generation whose snapshot was taken at or before the moment is
// chosen (an older one when its snapshot cannot be read). Its snapshot is
// written to a hidden temporary file beside the target, then its segments are
// replayed in order, each page written where the engine's checkpoint would
// write it, as long as each one continues the one before (same log and the
// next frame with the chain's checksum, or the next log from its first frame)
// and verifies frame by frame; the replay stops at the first segment that is
// missing, damaged or does not continue, and at the first commit seen after
// the moment. The file is then checked (integrity check and the shipped
// tables), flushed, and linked under the target's name, which must not exist:
// an existing file is never written over.
//
// Raises std::runtime_error with a message for a person when nothing can be
// restored.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "replica/replica_store.h"

namespace quelvar::replica {

struct RestoreOutcome {
  std::string generation;
  std::int64_t lastCommitMs = 0;  // the time of the last commit restored (the snapshot's when none)
  std::uint64_t segments = 0;     // segments replayed
  // Why the replay ended before the newest segment ("" when it reached it or
  // stopped at the moment asked for).
  std::string stop;
};

RestoreOutcome RestoreFromReplica(ReplicaStore &store, std::optional<std::int64_t> atMs,
                                  const std::filesystem::path &to);

// "2026-12-10 17:00:00" (local time) as ms since the epoch; nullopt when malformed.
std::optional<std::int64_t> ParseLocalMoment(const std::string &text);
// The reverse, for messages.
std::string LocalMomentText(std::int64_t ms);

}  // namespace quelvar::replica
