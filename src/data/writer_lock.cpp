#include "data/writer_lock.h"

#include <algorithm>

namespace quelvar {

bool WriterLock::TryLockFor(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  if (!held_ && queue_.empty()) {
    held_ = true;
    return true;
  }
  const std::uint64_t ticket = nextTicket_++;
  queue_.push_back(ticket);
  const bool granted = changed_.wait_until(lock, deadline, [&] { return !held_ && queue_.front() == ticket; });
  if (granted) {
    queue_.pop_front();
    held_ = true;
    return true;
  }
  queue_.erase(std::find(queue_.begin(), queue_.end(), ticket));
  // The waiter behind may now be first in line while the lock is free.
  if (!held_ && !queue_.empty()) changed_.notify_all();
  return false;
}

void WriterLock::Unlock() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
    if (queue_.empty()) return;
  }
  changed_.notify_all();
}

bool WriterLock::Held() const {
  std::lock_guard lock(mutex_);
  return held_;
}

}  // namespace quelvar
