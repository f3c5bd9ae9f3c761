#pragma once
// What the replication runs with (read from Config1.ini by the host).

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "replica/replica_store.h"

namespace quelvar::replica {

struct ReplicaTarget {
  std::string name;    // the setting's name: "Replica1"
  std::string target;  // a folder or "s3://bucket/prefix"
};

struct ReplicaSettings {
  std::vector<ReplicaTarget> replicas;
  S3Access s3;
  // The longest a committed save waits before it is shipped.
  std::chrono::milliseconds interval{1000};
  // How far back a point-in-time restore can go.
  int retentionDays = 7;
  // How far the log may grow while a replica is away before the server folds
  // it back anyway (that replica then loses continuity).
  std::uint64_t logLimitBytes = std::uint64_t(1) << 30;
  // A new generation (with a fresh snapshot) at least this often.
  std::chrono::seconds snapshotEvery{24 * 3600};
  // The restore drill: the newest replica restored into a temporary file.
  std::chrono::seconds drillEvery{24 * 3600};
  std::chrono::seconds firstDrillAfter{300};
  // The calendar (ms since the epoch) that dates commits, names generations
  // and decides the daily snapshot and the retention; the system clock when
  // empty. Tests pass a clock they move forward.
  std::function<std::int64_t()> clockMs;

  std::int64_t NowMs() const {
    if (clockMs) return clockMs();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }

  bool Enabled() const { return !replicas.empty(); }
};

}  // namespace quelvar::replica
