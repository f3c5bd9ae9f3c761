#include "service/address_slots.h"

namespace quelvar::service {

bool AddressSlots::TryTake(const std::string& address, std::size_t cap) {
  std::lock_guard lock(mutex_);
  std::size_t& held = open_[address];
  if (held >= cap) {
    if (held == 0) open_.erase(address);
    return false;
  }
  ++held;
  return true;
}

void AddressSlots::Give(const std::string& address) {
  std::lock_guard lock(mutex_);
  const auto entry = open_.find(address);
  if (entry == open_.end()) return;
  if (--entry->second == 0) open_.erase(entry);
}

std::size_t AddressSlots::Held(const std::string& address) const {
  std::lock_guard lock(mutex_);
  const auto entry = open_.find(address);
  return entry == open_.end() ? 0 : entry->second;
}

}  // namespace quelvar::service
