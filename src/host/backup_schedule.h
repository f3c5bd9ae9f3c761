#pragma once
// Scheduled backups: once a day, at the time set in Config1.ini, the server
// writes Backup/Automatico-YYYY-MM-DD.db3 (on an interval instead,
// Backup/Automatico-YYYY-MM-DD-HHMMSS.db3, one file per run) through the same
// backup procedure as the "Backup" event (integrity check, online copy, date
// recorded), logs the outcome, and removes its own older automatic backups
// beyond the number to keep (by modification time; never the one just
// written, never a name dated in the future). Files of any other name in
// Backup/ are never touched. At start, when the newest automatic backup is
// more than a day old (or there is none), one is written at once.
//
// Config1.ini, section INDICE:
//   BackupAutomaticoHora=HH:MM      daily time, local
//   BackupAutomaticoIntervalo=S     every S seconds instead (takes precedence
//                                   over the daily time, and works without it)
//   BackupAutomaticoManter=N        automatic backups kept (default 7, at least 1)
// With neither a time nor an interval there are no scheduled backups.

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tools/backup_files.h"

namespace quelvar::host {

class ServerControl;

inline constexpr std::string_view kBackupTimeKey = "BackupAutomaticoHora";
inline constexpr std::string_view kBackupKeepKey = tools::kBackupsKeptKey;
inline constexpr std::string_view kBackupIntervalKey = "BackupAutomaticoIntervalo";
inline constexpr int kDefaultBackupsKept = tools::kDefaultBackupsKept;

struct BackupSchedule {
  bool enabled = false;
  int hour = 0;
  int minute = 0;
  std::optional<std::chrono::seconds> interval;  // replaces the daily time
  int keep = kDefaultBackupsKept;
  std::string problem;  // a key that could not be read (the schedule is then off)
};

// The schedule as Config1.ini of `programFolder` sets it (off without the file).
BackupSchedule ReadBackupSchedule(const std::filesystem::path& programFolder);
// The same from the three values (absent keys as nullopt).
BackupSchedule ParseBackupSchedule(const std::optional<std::string>& time, const std::optional<std::string>& keep,
                                   const std::optional<std::string>& interval);

// "Automatico-2026-12-10.db3" for that local date.
std::string AutomaticBackupName(std::time_t when);
// "Automatico-2026-12-10-083000.db3" for that local time ("-2", "-3", ...
// before ".db3" when `folder` already holds that name).
std::string IntervalBackupName(const std::filesystem::path& folder, std::time_t when);
// True for names of the form Automatico-YYYY-MM-DD.db3 and
// Automatico-YYYY-MM-DD-HHMMSS[-N].db3 (digits in place).
bool IsAutomaticBackupName(std::string_view name);
// The automatic backups in `folder`, most recently written first; names dated
// after today are left out (see tools::BackupsNamed).
std::vector<std::filesystem::path> AutomaticBackups(const std::filesystem::path& folder);
// Removes the automatic backups beyond the `keep` most recently written,
// never `justWritten`; the names removed.
std::vector<std::string> PruneAutomaticBackups(const std::filesystem::path& folder, int keep,
                                               std::string_view justWritten = {});
// True when no automatic backup in `folder` was written in the last 24 hours.
bool AutomaticBackupDue(const std::filesystem::path& folder);

// The next daily run strictly after `now` at hour:minute local time.
std::time_t NextDailyRun(std::time_t now, int hour, int minute);

class BackupScheduler {
 public:
  // Runs backups on `server`'s database; log entries go to its console.
  explicit BackupScheduler(ServerControl& server);
  ~BackupScheduler();  // Stop()

  BackupScheduler(const BackupScheduler&) = delete;
  BackupScheduler& operator=(const BackupScheduler&) = delete;

  // Logs the schedule (or why it is off) and, when enabled, starts the
  // worker: a catch-up run when one is due, then the daily (or interval) runs.
  void Start(const BackupSchedule& schedule);
  // Ends the worker after a run in progress.
  void Stop();

  // One run now: the backup, its log entry, the pruning. True when written.
  bool RunOnce(const BackupSchedule& schedule);

 private:
  void Work(BackupSchedule schedule);

  ServerControl& server_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace quelvar::host
