#pragma once
// The operator console as the panel sees it: every call is passed on to the
// console it wraps unchanged (the window or standard error show exactly what
// they showed), and the most recent log entries are kept in memory, numbered,
// with their time and level, for the panel's log page and its live stream.
// Thread-safe.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "data/operator_console.h"

namespace quelvar::panel {

struct LogEntry {
  std::uint64_t number = 0;  // 1, 2, ... in the order of the entries
  std::time_t when = 0;
  std::string level;         // "ERROR", "WARNING" or "INFO"
  std::string text;          // as logged, carriage returns kept (cut at kMaxKeptEntryBytes)
};

class RecentLog final : public OperatorConsole {
 public:
  static constexpr std::size_t kMaxKeptEntryBytes = 16 * 1024;

  // `levelOf` names the level of an entry. At most `capacity` entries are
  // kept, and at most `maxWaiters` requests wait for new ones at once.
  RecentLog(OperatorConsole& inner, std::function<std::string(std::string_view)> levelOf,
            std::size_t capacity = 1000, std::size_t maxWaiters = 16);

  void countModule() override;
  void log(std::string entry) override;
  void integrityChecked(bool passed) override { inner_.integrityChecked(passed); }
  // Keeps an entry the program has shown on its own (a line of the host at
  // start-up or at the end, with its level) without passing it on.
  void Keep(std::string_view entry, std::string level);

  // Modules counted through this console (the request counter).
  std::uint64_t Modules() const { return modules_.load(); }

  // The kept entries numbered after `number`, oldest first.
  std::vector<LogEntry> After(std::uint64_t number) const;
  // Waits until an entry numbered after `number` exists, `limit` has passed
  // or Wake() was called; false at once when `maxWaiters` requests wait already.
  bool WaitAfter(std::uint64_t number, std::chrono::milliseconds limit);
  // Ends every wait (the server is stopping).
  void Wake();

 private:
  OperatorConsole& inner_;
  const std::function<std::string(std::string_view)> levelOf_;
  const std::size_t capacity_;
  const std::size_t maxWaiters_;
  std::atomic<std::uint64_t> modules_{0};
  mutable std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<LogEntry> entries_;
  std::uint64_t last_ = 0;
  std::size_t waiters_ = 0;
  std::uint64_t wakes_ = 0;
};

}  // namespace quelvar::panel
