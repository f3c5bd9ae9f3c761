#include "host/log_format.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "inventory/dispatch.h"

namespace quelvar::host {

std::string_view LevelName(LogLevel level) {
  switch (level) {
    case LogLevel::Error:
      return "ERROR";
    case LogLevel::Warning:
      return "WARNING";
    case LogLevel::Info:
      break;
  }
  return "INFO";
}

int JournalPriority(LogLevel level) {
  switch (level) {
    case LogLevel::Error:
      return 3;
    case LogLevel::Warning:
      return 4;
    case LogLevel::Info:
      break;
  }
  return 6;
}

LogLevel LevelOfEntry(std::string_view entry) {
  if (entry.find(" --> ") != std::string_view::npos) return LogLevel::Error;
  if (entry.rfind("Validate MSG:", 0) == 0) return LogLevel::Warning;
  if (const auto at = entry.find(" MSG: \r"); at != std::string_view::npos &&
      entry.substr(at + 7).starts_with(inventory::kEmptiedValuesWarning))
    return LogLevel::Warning;
  return LogLevel::Info;
}

std::string LocalTimeStamp(const std::timespec& when) {
  std::tm local{};
  const std::time_t seconds = when.tv_sec;
  ::localtime_r(&seconds, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  const long offsetMinutes = local.tm_gmtoff / 60;
  const long absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char text[96];
  std::snprintf(text, sizeof text, "%s.%03ld%c%02ld:%02ld", date, static_cast<long>(when.tv_nsec / 1000000),
                offsetMinutes < 0 ? '-' : '+', absolute / 60, absolute % 60);
  return text;
}

std::string FormatLogEntry(LogLevel level, std::string_view text, const std::timespec& when, LogStyle style) {
  std::string prefix;  // of every line
  if (style.journal) prefix = "<" + std::to_string(JournalPriority(level)) + ">";
  std::string out = prefix;
  if (!style.journal) out.append(LocalTimeStamp(when)).push_back(' ');
  out.append(LevelName(level));
  if (!text.empty()) out.push_back(' ');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      out.push_back(c);
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    out.push_back('\n');
    out.append(prefix).append(kContinuationIndent);
  }
  out.push_back('\n');
  return out;
}

bool IsJournalStream(int fd) {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr || *stream == '\0') return false;
  unsigned long long device = 0;
  unsigned long long inode = 0;
  char extra = 0;
  if (std::sscanf(stream, "%llu:%llu%c", &device, &inode, &extra) != 2) return false;
  struct stat status {};
  if (::fstat(fd, &status) != 0) return false;
  return static_cast<unsigned long long>(status.st_dev) == device &&
         static_cast<unsigned long long>(status.st_ino) == inode;
}

}  // namespace quelvar::host
