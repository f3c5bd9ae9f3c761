#include "host/backup_schedule.h"

#include <algorithm>
#include <exception>
#include <system_error>

#include "data/tdm.h"
#include "formats/text_codec.h"
#include "host/server_control.h"
#include "host/settings.h"
#include "tools/backup.h"
#include "tools/backup_files.h"

namespace quelvar::host {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "Automatico-";
constexpr std::string_view kSuffix = ".db3";
// Entries of the operator log (a failure carries " --> ", as every failure).
constexpr std::string_view kFailureEntry = "Backup automático --> \r";
constexpr std::string_view kReportEntry = "Backup automático MSG: \r";

// The console of a scheduled run: its service module counts on the operator's
// counter as every module does, but not among the requests of the figures;
// its log entries go through the figures as every entry.
class ScheduledConsole final : public OperatorConsole {
 public:
  explicit ScheduledConsole(ServerControl& server) : server_(server) {}
  void countModule() override { server_.Console().countModule(); }
  void log(std::string entry) override { server_.ModuleConsole().log(std::move(entry)); }
  void integrityChecked(bool passed) override { server_.ModuleConsole().integrityChecked(passed); }

 private:
  ServerControl& server_;
};

std::optional<int> SmallNumber(std::string_view text, int low, int high) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

BackupSchedule ParseBackupSchedule(const std::optional<std::string>& time, const std::optional<std::string>& keep,
                                   const std::optional<std::string>& interval) {
  BackupSchedule schedule;
  if (keep && !Trim(*keep).empty()) {
    const auto count = SmallNumber(Trim(*keep), 1, 100000);
    if (!count) {
      schedule.problem = std::string(kBackupKeepKey) + " is \"" + *keep + "\": not a number from 1 to 100000";
      return schedule;
    }
    schedule.keep = *count;
  }
  if (interval && !Trim(*interval).empty()) {
    const auto seconds = SmallNumber(Trim(*interval), 1, 100000000);
    if (!seconds) {
      schedule.problem = std::string(kBackupIntervalKey) + " is \"" + *interval + "\": not a number of seconds";
      return schedule;
    }
    schedule.interval = std::chrono::seconds(*seconds);
    schedule.enabled = true;
    return schedule;
  }
  if (!time || Trim(*time).empty()) return schedule;
  const std::string_view text = Trim(*time);
  const auto colon = text.find(':');
  const auto hour = colon == std::string_view::npos ? std::nullopt : SmallNumber(text.substr(0, colon), 0, 23);
  const auto minute = colon == std::string_view::npos ? std::nullopt : SmallNumber(text.substr(colon + 1), 0, 59);
  if (!hour || !minute || text.size() - colon - 1 != 2) {
    schedule.problem = std::string(kBackupTimeKey) + " is \"" + *time + "\": not a time HH:MM";
    return schedule;
  }
  schedule.hour = *hour;
  schedule.minute = *minute;
  schedule.enabled = true;
  return schedule;
}

BackupSchedule ReadBackupSchedule(const fs::path& programFolder) {
  const fs::path file = programFolder / std::string(kConfigFileName);
  std::error_code ec;
  if (!fs::exists(file, ec)) return {};
  const IniFile ini = IniFile::Load(file);
  return ParseBackupSchedule(ini.Get(kConfigSection, kBackupTimeKey), ini.Get(kConfigSection, kBackupKeepKey),
                             ini.Get(kConfigSection, kBackupIntervalKey));
}

std::string AutomaticBackupName(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  return std::string(kPrefix) + date + std::string(kSuffix);
}

std::string IntervalBackupName(const fs::path& folder, std::time_t when) {
  return tools::TimedBackupName(folder, kPrefix, when);
}

bool IsAutomaticBackupName(std::string_view name) {
  auto digits = [](std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (name.size() < kPrefix.size() + 10 + kSuffix.size()) return false;
  if (name.substr(0, kPrefix.size()) != kPrefix || name.substr(name.size() - kSuffix.size()) != kSuffix) return false;
  const std::string_view date = name.substr(kPrefix.size(), 10);
  for (std::size_t i = 0; i < date.size(); ++i) {
    const bool dash = i == 4 || i == 7;
    if (dash ? date[i] != '-' : (date[i] < '0' || date[i] > '9')) return false;
  }
  // The daily name ends here; an interval run's name goes on with "-HHMMSS",
  // and "-N" when two runs fell in the same second.
  std::string_view rest = name.substr(kPrefix.size() + 10, name.size() - kPrefix.size() - 10 - kSuffix.size());
  if (rest.empty()) return true;
  if (rest.size() < 7 || rest[0] != '-' || !digits(rest.substr(1, 6))) return false;
  rest.remove_prefix(7);
  return rest.empty() || (rest[0] == '-' && digits(rest.substr(1)));
}

std::vector<fs::path> AutomaticBackups(const fs::path& folder) {
  return tools::BackupsNamed(folder, IsAutomaticBackupName);
}

std::vector<std::string> PruneAutomaticBackups(const fs::path& folder, int keep, std::string_view justWritten) {
  return tools::PruneBackups(folder, IsAutomaticBackupName, keep, justWritten);
}

bool AutomaticBackupDue(const fs::path& folder) {
  const auto now = fs::file_time_type::clock::now();
  for (const fs::path& backup : AutomaticBackups(folder)) {
    std::error_code ec;
    const auto written = fs::last_write_time(backup, ec);
    if (!ec && now - written < std::chrono::hours(24)) return false;
  }
  return true;
}

std::time_t NextDailyRun(std::time_t now, int hour, int minute) {
  std::tm local{};
  ::localtime_r(&now, &local);
  for (int day = 0; day < 3; ++day) {
    std::tm candidate = local;
    candidate.tm_mday += day;
    candidate.tm_hour = hour;
    candidate.tm_min = minute;
    candidate.tm_sec = 0;
    candidate.tm_isdst = -1;
    const std::time_t when = std::mktime(&candidate);
    if (when > now) return when;
  }
  return now + 24 * 60 * 60;
}

BackupScheduler::BackupScheduler(ServerControl& server) : server_(server) {}

BackupScheduler::~BackupScheduler() { Stop(); }

void BackupScheduler::Start(const BackupSchedule& schedule) {
  OperatorConsole& console = server_.ModuleConsole();
  if (!schedule.problem.empty()) {
    console.log(std::string(kFailureEntry) + "desativado: " + schedule.problem);
    return;
  }
  if (!schedule.enabled) return;
  std::string when = schedule.interval
                         ? "a cada " + std::to_string(schedule.interval->count()) + " s"
                         : "diário às " + std::string(schedule.hour < 10 ? "0" : "") + std::to_string(schedule.hour) +
                               ":" + (schedule.minute < 10 ? "0" : "") + std::to_string(schedule.minute);
  console.log(std::string(kReportEntry) + when + ", mantendo " + std::to_string(schedule.keep) +
              " cópias em " + FolderText(server_.ProgramFolder() / "Backup"));
  {
    std::lock_guard guard(lock_);
    stopping_ = false;
  }
  worker_ = std::thread([this, schedule] { Work(schedule); });
}

void BackupScheduler::Stop() {
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

bool BackupScheduler::RunOnce(const BackupSchedule& schedule) {
  ScheduledConsole console(server_);
  const std::time_t now = std::time(nullptr);
  const fs::path folder = server_.ProgramFolder() / "Backup";
  const std::string name = schedule.interval ? IntervalBackupName(folder, now) : AutomaticBackupName(now);
  bool written = false;
  try {
    TDM dm(console, server_.SharedDatabasePath(), server_.ProgramFolder());
    std::string answer;
    tools::GeraBackup(dm, name, {}, answer);
    written = true;
    std::error_code ec;
    const auto size = fs::file_size(folder / name, ec);
    std::string report = "gravado " + (folder / name).string();
    if (!ec) report += " (" + std::to_string(size) + " bytes)";
    const auto removed = PruneAutomaticBackups(folder, schedule.keep, name);
    if (!removed.empty()) {
      report += "; removidos:";
      for (const std::string& old : removed) report += " " + old;
    }
    console.log(std::string(kReportEntry) + report);
  } catch (const std::exception& failure) {
    console.log(std::string(kFailureEntry) + failure.what());
  }
  server_.Metrics().SetScheduledBackupResult(written, now);
  return written;
}

void BackupScheduler::Work(BackupSchedule schedule) {
  using Clock = std::chrono::system_clock;
  const fs::path folder = server_.ProgramFolder() / "Backup";
  if (AutomaticBackupDue(folder)) RunOnce(schedule);
  Clock::time_point next = schedule.interval
                               ? Clock::now() + *schedule.interval
                               : Clock::from_time_t(NextDailyRun(std::time(nullptr), schedule.hour, schedule.minute));
  std::unique_lock guard(lock_);
  for (;;) {
    // Wakes at least once a minute, so that a change of the clock is noticed.
    const auto until = std::min(next, Clock::now() + std::chrono::minutes(1));
    wake_.wait_until(guard, until, [this] { return stopping_; });
    if (stopping_) return;
    if (Clock::now() < next) continue;
    guard.unlock();
    RunOnce(schedule);
    guard.lock();
    next = schedule.interval ? Clock::now() + *schedule.interval
                             : Clock::from_time_t(NextDailyRun(std::time(nullptr), schedule.hour, schedule.minute));
  }
}

}  // namespace quelvar::host
