#pragma once
// What the replication shows of itself: the figures its threads write after
// each step, and the texts made of them for GET /metrics (Prometheus text),
// /healthz and the operator's state page. Every member is read and written
// under `mutex`.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace quelvar::replica {

// One replica as the operator sees it: its name, where it ships to, and a
// sentence on its state (lag, last shipment, the reason it is away).
struct ReplicaState {
  std::string name;
  std::string target;
  std::string summary;
};

struct ReplicaFigures {
  struct One {
    std::string name;
    std::string target;
    double lagSeconds = 0;
    std::uint64_t lagBytes = 0;
    std::int64_t lastShipMs = 0;
    std::int64_t generationStartMs = 0;
    std::uint64_t errors = 0;
    bool away = false;
    std::string reason;
  };
  mutable std::mutex mutex;
  std::vector<One> replicas;
  std::int64_t lastGoodDrillMs = 0;
  std::uint64_t drillFailures = 0;

  // Times are ms since the epoch on the replication's clock.
  std::string MetricsText(std::int64_t nowMs) const;
  // "" when every replica is current; otherwise one line per replica that is
  // away or lags past twice `interval` and 2 s.
  std::string HealthNote(std::int64_t nowMs, std::chrono::milliseconds interval) const;
  std::vector<ReplicaState> States(std::int64_t nowMs) const;
};

}  // namespace quelvar::replica
