#pragma once
// A text shared between threads and published as an immutable snapshot: a
// reader always obtains a whole text, the old one or the new one, and the
// snapshot it holds never changes under it.

#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace quelvar {

class SharedText {
 public:
  explicit SharedText(std::string text = {})
      : current_(std::make_shared<const std::string>(std::move(text))) {}

  SharedText(const SharedText&) = delete;
  SharedText& operator=(const SharedText&) = delete;

  // The text in force now.
  std::shared_ptr<const std::string> get() const {
    std::lock_guard lock(mutex_);
    return current_;
  }

  // Publishes a new text; readers holding the old snapshot keep it intact.
  void set(std::string text) {
    auto next = std::make_shared<const std::string>(std::move(text));
    std::lock_guard lock(mutex_);
    current_.swap(next);
    // `next`, now the old snapshot, is released after the lock.
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const std::string> current_;
};

}  // namespace quelvar
