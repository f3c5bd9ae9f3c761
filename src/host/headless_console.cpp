#include "host/headless_console.h"

#include <cerrno>

namespace quelvar::host {

void HeadlessConsole::countModule() { count_.fetch_add(1, std::memory_order_relaxed); }

void HeadlessConsole::log(std::string entry) {
  entry.push_back('\n');
  std::lock_guard lock(writing_);
  const char* data = entry.data();
  std::size_t left = entry.size();
  while (left > 0) {
    const ssize_t written = ::write(fd_, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere to write: the entry is lost, the request goes on
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

}  // namespace quelvar::host
