#pragma once
// The single-instance rule: a lock file "SoftServQuelvar1.OnlyOne" in
// $XDG_RUNTIME_DIR (/tmp when unset or empty), held with flock for the life of
// the object.

#include <filesystem>
#include <string>

namespace quelvar::host {

inline constexpr const char* kInstanceLockName = "SoftServQuelvar1.OnlyOne";

class SingleInstanceLock {
 public:
  enum class Outcome {
    Acquired,       // this process is the only copy
    HeldElsewhere,  // another copy holds the lock: end at once with code 0
    Unavailable,    // the lock file cannot be opened or locked (see error())
  };

  SingleInstanceLock() = default;
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // The lock file's path for the current environment.
  static std::filesystem::path LockPath();

  Outcome Acquire();
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

}  // namespace quelvar::host
