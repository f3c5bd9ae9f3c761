#pragma once
// Open connections per client address, so that one machine cannot take the
// connection slots of the others. Thread-safe.

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace quelvar::service {

class AddressSlots {
 public:
  // Takes a slot for `address` when it holds fewer than `cap`; false otherwise.
  bool TryTake(const std::string& address, std::size_t cap);
  void Give(const std::string& address);
  std::size_t Held(const std::string& address) const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::size_t> open_;  // no entry for an address with none
};

}  // namespace quelvar::service
