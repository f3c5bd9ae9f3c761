#pragma once
// The headless operator log: one line per entry, "time stamp, level, text",
// with the entry's own line breaks (carriage returns included) turned into
// indented continuation lines, so that a terminal never overwrites the start
// of an entry. When standard error is the system journal the time stamp is
// left to the journal and every line starts with its priority ("<3>").
//
//   2026-12-10T14:03:07.412-03:00 ERROR Restore -->
//       Ocorreu um erro na cópia do backup.
//       Mensagem original: No such file or directory
//
// Only the headless log is written this way: the window's log and every text
// sent to clients keep their carriage returns.

#include <ctime>
#include <string>
#include <string_view>

namespace quelvar::host {

enum class LogLevel { Error, Warning, Info };

// "ERROR", "WARNING", "INFO".
std::string_view LevelName(LogLevel level);
// The journal's priority of a level: 3 (err), 4 (warning), 6 (info).
int JournalPriority(LogLevel level);

// The level of an operator-log entry written by the request handlers and the
// maintenance tools: a failure ("Option --> message", "Backup Error --> ...")
// is an error, a line of a failed integrity report ("Validate MSG: ...") and
// a query's values left empty ("Option MSG: \rValores que ...") warnings,
// anything else information.
LogLevel LevelOfEntry(std::string_view entry);

// Indentation of continuation lines.
inline constexpr std::string_view kContinuationIndent = "    ";

struct LogStyle {
  bool journal = false;  // priority prefixes, no time stamp
};

// "2026-12-10T14:03:07.412-03:00": local time with milliseconds and the
// offset from UTC.
std::string LocalTimeStamp(const std::timespec& when);

// The whole text written for one entry, ending in a line feed. "\r\n", "\r"
// and "\n" each end a line; a trailing break gives an empty continuation.
std::string FormatLogEntry(LogLevel level, std::string_view text, const std::timespec& when, LogStyle style);

// True when `fd` is the stream the journal handed to this service: the
// environment's JOURNAL_STREAM ("device:inode") names the file `fd` is open on.
bool IsJournalStream(int fd);

}  // namespace quelvar::host
