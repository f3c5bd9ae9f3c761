#pragma once
// The total of request bodies held in memory at once. A connection takes its
// body's memory from the budget before it holds it (its reading buffer and
// the announced length at once; for a chunked body each growth of the text
// that holds it, see arriving_body.h) and gives it back when its request is
// done. Thread-safe.

#include <atomic>
#include <cstdint>

namespace quelvar::service {

class BodyBudget {
 public:
  explicit BodyBudget(std::uint64_t capacity) : capacity_(capacity) {}

  // The total allowed from now on (already taken bytes stay taken).
  void SetCapacity(std::uint64_t capacity) { capacity_ = capacity; }
  std::uint64_t Capacity() const { return capacity_; }

  // Takes `bytes` when they fit beside what is taken; false (nothing taken) otherwise.
  bool TryTake(std::uint64_t bytes);
  void Give(std::uint64_t bytes);
  std::uint64_t Taken() const { return taken_; }

 private:
  std::atomic<std::uint64_t> capacity_;
  std::atomic<std::uint64_t> taken_{0};
};

// Bytes taken from a budget, given back when it ends.
class BudgetHold {
 public:
  explicit BudgetHold(BodyBudget& budget) : budget_(budget) {}
  ~BudgetHold() { Release(); }
  BudgetHold(const BudgetHold&) = delete;
  BudgetHold& operator=(const BudgetHold&) = delete;

  bool TryTake(std::uint64_t bytes) {
    if (!budget_.TryTake(bytes)) return false;
    held_ += bytes;
    return true;
  }
  std::uint64_t Held() const { return held_; }
  // Gives everything back now (the body is no longer held).
  void Release() {
    budget_.Give(held_);
    held_ = 0;
  }

 private:
  BodyBudget& budget_;
  std::uint64_t held_ = 0;
};

}  // namespace quelvar::service
