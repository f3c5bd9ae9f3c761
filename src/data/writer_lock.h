#pragma once
// The in-process lock writers hold around their write transaction.
//
// Requests that write queue here, first come first served, instead of meeting
// in the engine's busy handler (which sleeps and polls): the holder's release
// hands the lock straight to the next waiter. A waiter gives up after its
// timeout; the caller then reports the engine's "database is locked", as the
// engine would after its busy timeout.
//
// Thread-safe. Not re-entrant: a thread that holds the lock and asks again
// waits out its timeout.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace quelvar {

class WriterLock {
 public:
  WriterLock() = default;
  WriterLock(const WriterLock &) = delete;
  WriterLock &operator=(const WriterLock &) = delete;

  // Waits up to `timeout` for the lock, in arrival order; false when it did not
  // come.
  bool TryLockFor(std::chrono::milliseconds timeout);
  // Releases it (to the longest waiter, if any). Only the holder calls this.
  void Unlock();

  // Whether someone holds it now (a snapshot, for tests and diagnostics).
  bool Held() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  std::deque<std::uint64_t> queue_;  // tickets of the waiters, oldest first
  std::uint64_t nextTicket_ = 0;
};

// Holds a WriterLock for its own lifetime once Acquire succeeded.
class WriterHold {
 public:
  WriterHold() = default;
  ~WriterHold() { Release(); }
  WriterHold(const WriterHold &) = delete;
  WriterHold &operator=(const WriterHold &) = delete;

  bool Acquire(WriterLock &lock, std::chrono::milliseconds timeout) {
    if (lock_) return true;
    if (!lock.TryLockFor(timeout)) return false;
    lock_ = &lock;
    return true;
  }
  void Release() noexcept {
    if (lock_) lock_->Unlock();
    lock_ = nullptr;
  }
  bool Holding() const { return lock_ != nullptr; }

 private:
  WriterLock *lock_ = nullptr;
};

}  // namespace quelvar
