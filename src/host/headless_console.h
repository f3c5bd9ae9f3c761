#pragma once
// The operator console without a window: an atomic request counter, and the
// operator log written to a file descriptor (standard error by default), one
// entry at a time in the form of log_format.h: time stamp, level, the entry's
// line breaks as indented continuation lines; the journal's priority prefixes
// instead of the time stamp when the descriptor is the journal's stream.

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "host/log_format.h"
#include "data/operator_console.h"

namespace quelvar::host {

class HeadlessConsole final : public OperatorConsole {
 public:
  // The style follows the descriptor: journal prefixes when it is the
  // journal's stream (IsJournalStream).
  explicit HeadlessConsole(int fd = STDERR_FILENO);
  HeadlessConsole(int fd, LogStyle style) : fd_(fd), style_(style) {}

  void countModule() override;
  // An entry of the request handlers or the tools; its level by LevelOfEntry.
  void log(std::string entry) override;
  // A line of the host itself (start-up, shutdown, scheduled work).
  void Write(LogLevel level, std::string_view text);

  // Service modules created so far (a 32-bit count that wraps like the window's).
  std::int32_t count() const { return count_.load(); }

 private:
  const int fd_;
  const LogStyle style_;
  std::atomic<std::int32_t> count_{0};
  std::mutex writing_;  // entries never interleave, even when one write is not enough
};

}  // namespace quelvar::host
