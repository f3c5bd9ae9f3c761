#pragma once
// The desktop clients' requests of the last hour, minute by minute: how many
// were answered and how long they took (average and longest). Thread-safe.

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace quelvar::panel {

struct MinuteFigures {
  std::int64_t minute = 0;       // minutes since the epoch (UTC)
  std::uint64_t requests = 0;
  double averageMs = 0;
  double longestMs = 0;
};

class RequestTimeline {
 public:
  static constexpr std::size_t kMinutes = 60;

  void Record(std::chrono::steady_clock::duration took,
              std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
  // The kMinutes minutes ending with the one of `now`, oldest first (minutes
  // without requests included, with zeros).
  std::vector<MinuteFigures> LastHour(std::chrono::system_clock::time_point now = std::chrono::system_clock::now()) const;

 private:
  struct Slot {
    std::int64_t minute = -1;
    std::uint64_t requests = 0;
    double totalMs = 0;
    double longestMs = 0;
  };
  mutable std::mutex lock_;
  std::array<Slot, kMinutes> slots_{};
};

}  // namespace quelvar::panel
