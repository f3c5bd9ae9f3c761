#include "service/login_throttle.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace quelvar::service {

void LoginThrottle::SetRules(const Rules& rules) {
  std::lock_guard lock(mutex_);
  rules_ = rules;
}

void LoginThrottle::SetReport(Report report) {
  std::lock_guard lock(mutex_);
  report_ = report ? std::make_shared<const Report>(std::move(report)) : nullptr;
}

std::chrono::milliseconds LoginThrottle::RecordFailure(const std::string& address, Clock::time_point now) {
  std::shared_ptr<const Report> report;
  std::size_t reported = 0;
  std::chrono::milliseconds delay{0};
  {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(address);
    if (found == entries_.end()) {
      if (entries_.size() >= rules_.maxAddresses) Forget(now);
      found = entries_.emplace(address, Entry{}).first;
      found->second.windowStart = now;
    } else if (now - found->second.windowStart >= rules_.window) {
      found->second.windowStart = now;
      found->second.failures = 0;
    }
    Entry& entry = found->second;
    const std::size_t failures = ++entry.failures;
    ++entry.unreported;
    if (!entry.reportedAt || now - *entry.reportedAt >= rules_.window) {
      entry.reportedAt = now;
      reported = entry.unreported;
      entry.unreported = 0;
      report = report_;
    }
    if (failures > rules_.freeFailures) {
      const std::size_t doublings = std::min<std::size_t>(failures - rules_.freeFailures - 1, 30);
      delay = std::min(rules_.firstDelay * (std::int64_t{1} << doublings), rules_.maxDelay);
    }
  }
  if (report) (*report)(address, reported);
  return delay;
}

// Drops every address whose window has passed; when that frees too little,
// the oldest half of the rest.
void LoginThrottle::Forget(Clock::time_point now) {
  std::erase_if(entries_, [&](const auto& entry) { return now - entry.second.windowStart >= rules_.window; });
  if (entries_.size() < rules_.maxAddresses) return;
  std::vector<Clock::time_point> starts;
  starts.reserve(entries_.size());
  for (const auto& [address, entry] : entries_) starts.push_back(entry.windowStart);
  const auto middle = starts.begin() + static_cast<std::ptrdiff_t>(starts.size() / 2);
  std::nth_element(starts.begin(), middle, starts.end());
  const Clock::time_point cut = *middle;
  std::erase_if(entries_, [&](const auto& entry) { return entry.second.windowStart <= cut; });
}

std::size_t LoginThrottle::Addresses() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace quelvar::service
