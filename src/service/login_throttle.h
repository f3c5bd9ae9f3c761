#pragma once
// Failed logins per client address: past `freeFailures` failures within one
// window (a minute by default), each further failure from that address waits
// before its refusal, twice as long as the one before (from `firstDelay` up to
// `maxDelay`). Other addresses are not affected. The table forgets an address
// once its window has passed, and holds at most `maxAddresses` entries (the
// oldest are dropped first). Thread-safe.
//
// Failures are also reported, at most once per address per window: the first
// failure at once, later ones as the count gathered since the last report,
// with the next failure after the window has passed. The report carries the
// address and the count, nothing of the credentials tried.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace quelvar::service {

class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  struct Rules {
    std::size_t freeFailures = 20;
    std::chrono::milliseconds window{60'000};
    std::chrono::milliseconds firstDelay{250};
    std::chrono::milliseconds maxDelay{10'000};
    std::size_t maxAddresses = 65'536;
  };

  LoginThrottle() = default;
  explicit LoginThrottle(Rules rules) : rules_(rules) {}

  void SetRules(const Rules& rules);
  // Called (outside the throttle's lock, on the failing request's thread) with
  // an address and its failures since its last report.
  using Report = std::function<void(const std::string& address, std::size_t failures)>;
  void SetReport(Report report);

  // Records one failure from `address` at `now` and returns how long its
  // refusal waits (zero for the first `freeFailures` failures of a window).
  std::chrono::milliseconds RecordFailure(const std::string& address, Clock::time_point now = Clock::now());

  std::size_t Addresses() const;

 private:
  struct Entry {
    Clock::time_point windowStart;
    std::size_t failures = 0;
    std::optional<Clock::time_point> reportedAt;
    std::size_t unreported = 0;
  };
  void Forget(Clock::time_point now);

  mutable std::mutex mutex_;
  Rules rules_;
  std::unordered_map<std::string, Entry> entries_;
  std::shared_ptr<const Report> report_;
};

}  // namespace quelvar::service
