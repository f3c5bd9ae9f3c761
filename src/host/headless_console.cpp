#include "host/headless_console.h"

#include <cerrno>
#include <ctime>

namespace quelvar::host {

HeadlessConsole::HeadlessConsole(int fd) : fd_(fd), style_{.journal = IsJournalStream(fd)} {}

void HeadlessConsole::countModule() { count_.fetch_add(1, std::memory_order_relaxed); }

void HeadlessConsole::log(std::string entry) { Write(LevelOfEntry(entry), entry); }

void HeadlessConsole::Write(LogLevel level, std::string_view text) {
  std::timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const std::string line = FormatLogEntry(level, text, now, style_);
  std::lock_guard lock(writing_);
  const char* data = line.data();
  std::size_t left = line.size();
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
