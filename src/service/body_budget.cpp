#include "service/body_budget.h"

namespace quelvar::service {

bool BodyBudget::TryTake(std::uint64_t bytes) {
  std::uint64_t taken = taken_.load();
  for (;;) {
    const std::uint64_t capacity = capacity_.load();
    if (taken > capacity || bytes > capacity - taken) return false;
    if (taken_.compare_exchange_weak(taken, taken + bytes)) return true;
  }
}

void BodyBudget::Give(std::uint64_t bytes) { taken_.fetch_sub(bytes); }

}  // namespace quelvar::service
