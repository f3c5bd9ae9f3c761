#include "panel/recent_log.h"

#include <utility>

namespace quelvar::panel {

RecentLog::RecentLog(OperatorConsole& inner, std::function<std::string(std::string_view)> levelOf,
                     std::size_t capacity, std::size_t maxWaiters)
    : inner_(inner), levelOf_(std::move(levelOf)), capacity_(capacity), maxWaiters_(maxWaiters) {}

void RecentLog::countModule() {
  modules_.fetch_add(1);
  inner_.countModule();
}

void RecentLog::log(std::string entry) {
  Keep(entry, levelOf_ ? levelOf_(entry) : "INFO");
  inner_.log(std::move(entry));
}

void RecentLog::Keep(std::string_view entry, std::string level) {
  LogEntry kept;
  kept.when = std::time(nullptr);
  kept.level = std::move(level);
  kept.text = std::string(entry.substr(0, kMaxKeptEntryBytes));
  {
    std::lock_guard guard(lock_);
    kept.number = ++last_;
    entries_.push_back(std::move(kept));
    while (entries_.size() > capacity_) entries_.pop_front();
  }
  arrived_.notify_all();
}

std::vector<LogEntry> RecentLog::After(std::uint64_t number) const {
  std::lock_guard guard(lock_);
  std::vector<LogEntry> found;
  for (const LogEntry& entry : entries_) {
    if (entry.number > number) found.push_back(entry);
  }
  return found;
}

bool RecentLog::WaitAfter(std::uint64_t number, std::chrono::milliseconds limit) {
  std::unique_lock guard(lock_);
  if (waiters_ >= maxWaiters_) return false;
  ++waiters_;
  const std::uint64_t wakes = wakes_;
  arrived_.wait_for(guard, limit, [&] { return last_ > number || wakes_ != wakes; });
  --waiters_;
  return true;
}

void RecentLog::Wake() {
  {
    std::lock_guard guard(lock_);
    ++wakes_;
  }
  arrived_.notify_all();
}

}  // namespace quelvar::panel
