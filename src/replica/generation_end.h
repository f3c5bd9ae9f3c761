#pragma once
// Where a replica's newest generation ends: the log position of its last
// commit, read from its last segment. A server that stopped without folding
// its log (a crash) goes on with that generation when its log still holds
// that commit, so the replica keeps a restorable generation through the
// restart instead of waiting for a new snapshot.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "replica/replica_store.h"
#include "replica/wal_format.h"

namespace quelvar::replica {

struct GenerationEnd {
  std::string name;
  std::uint64_t nextSegment = 1;
  std::uint32_t logNumber = 0;  // the log's number within the generation
  WalPosition position;         // just after the last commit
};

// nullopt when the newest generation that has its snapshot has no segment,
// lacks one of its segments, or has a last segment that does not open whole
// and verify. Store failures raise StoreError.
std::optional<GenerationEnd> NewestGenerationEnd(ReplicaStore &store, std::chrono::milliseconds limit);

}  // namespace quelvar::replica
