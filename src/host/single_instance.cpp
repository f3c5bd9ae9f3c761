#include "host/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quelvar::host {

SingleInstanceLock::~SingleInstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::filesystem::path SingleInstanceLock::LockPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::filesystem::path folder = (runtime != nullptr && *runtime != '\0') ? runtime : "/tmp";
  return folder / kInstanceLockName;
}

SingleInstanceLock::Outcome SingleInstanceLock::Acquire() {
  if (fd_ >= 0) return Outcome::Acquired;
  const auto path = LockPath();
  // Read-only is enough for flock, and lets copies run by other users find the
  // same lock in a shared folder. Close-on-exec: a restarted program must not
  // inherit the lock it is about to ask for.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error_ = "cannot open " + path.string() + ": " + std::strerror(errno);
    return Outcome::Unavailable;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const int failure = errno;
    ::close(fd);
    if (failure == EWOULDBLOCK) return Outcome::HeldElsewhere;
    error_ = "cannot lock " + path.string() + ": " + std::strerror(failure);
    return Outcome::Unavailable;
  }
  fd_ = fd;
  return Outcome::Acquired;
}

}  // namespace quelvar::host
