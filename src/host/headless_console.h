#pragma once
// The operator console without a window: an atomic request counter, and every
// log entry written whole to a file descriptor (standard error by default),
// followed by a line feed. Carriage returns inside an entry are kept.

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "service/operator_console.h"

namespace quelvar::host {

class HeadlessConsole final : public OperatorConsole {
 public:
  explicit HeadlessConsole(int fd = STDERR_FILENO) : fd_(fd) {}

  void countModule() override;
  void log(std::string entry) override;

  // Service modules created so far (a 32-bit count that wraps like the window's).
  std::int32_t count() const { return count_.load(); }

 private:
  const int fd_;
  std::atomic<std::int32_t> count_{0};
  std::mutex writing_;  // entries never interleave, even when one write is not enough
};

}  // namespace quelvar::host
