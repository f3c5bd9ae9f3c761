#include "host/backup_schedule.h"

#include <stdlib.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quelvar::host {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "quelvar-backups-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void Touch(const fs::path& file) { std::ofstream(file) << "x"; }

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

TEST(BackupSchedule, KeysAreReadOrTheScheduleIsOffWithTheReason) {
  using O = std::optional<std::string>;
  struct Case {
    O time, keep, interval;
    bool enabled;
    int hour, minute, keepCount;
    std::optional<long> seconds;
    bool problem;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, std::nullopt, false, 0, 0, 7, std::nullopt, false},
      {"", "3", std::nullopt, false, 0, 0, 3, std::nullopt, false},
      {"23:05", std::nullopt, std::nullopt, true, 23, 5, 7, std::nullopt, false},
      {" 03:00 ", "2", std::nullopt, true, 3, 0, 2, std::nullopt, false},
      {"00:00", "1", "", true, 0, 0, 1, std::nullopt, false},
      {std::nullopt, "4", "30", true, 0, 0, 4, 30, false},
      {"24:00", std::nullopt, std::nullopt, false, 0, 0, 7, std::nullopt, true},
      {"3:7", std::nullopt, std::nullopt, false, 0, 0, 7, std::nullopt, true},
      {"12h30", std::nullopt, std::nullopt, false, 0, 0, 7, std::nullopt, true},
      {"12:30", "0", std::nullopt, false, 0, 0, 7, std::nullopt, true},
      {"12:30", "dez", std::nullopt, false, 0, 0, 7, std::nullopt, true},
      {std::nullopt, std::nullopt, "-5", false, 0, 0, 7, std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.time.value_or("-") + "|" + c.keep.value_or("-") + "|" + c.interval.value_or("-"));
    const BackupSchedule schedule = ParseBackupSchedule(c.time, c.keep, c.interval);
    EXPECT_EQ(schedule.enabled, c.enabled);
    EXPECT_EQ(!schedule.problem.empty(), c.problem) << schedule.problem;
    if (!c.enabled) continue;
    EXPECT_EQ(schedule.keep, c.keepCount);
    if (c.seconds) {
      ASSERT_TRUE(schedule.interval.has_value());
      EXPECT_EQ(schedule.interval->count(), *c.seconds);
    } else {
      EXPECT_FALSE(schedule.interval.has_value());
      EXPECT_EQ(schedule.hour, c.hour);
      EXPECT_EQ(schedule.minute, c.minute);
    }
  }
}

TEST(BackupSchedule, OnlyItsOwnNamesAreAutomaticBackups) {
  const std::pair<const char*, bool> cases[] = {
      {"Automatico-2026-12-10.db3", true},   {"Automatico-2026-12-10.db3.tmp", false},
      {"Automatico-2026-1-10.db3", false},   {"automatico-2026-12-10.db3", false},
      {"Automatico-2026-12-1a.db3", false},  {"Automatico-2026_12_10.db3", false},
      {"Diario.db3", false},                 {"AvulsoBackup.bkp", false},
      {"Automatico-2026-12-10.bkp", false},  {"XAutomatico-2026-12-10.db3", false},
      // an interval run's name carries its time, and a number when two fell in one second
      {"Automatico-2026-12-10-083000.db3", true},   {"Automatico-2026-12-10-083000-2.db3", true},
      {"Automatico-2026-12-10-0830.db3", false},    {"Automatico-2026-12-10-08300a.db3", false},
      {"Automatico-2026-12-10-083000-.db3", false}, {"Automatico-2026-12-10-083000-x.db3", false},
      {"Automatico-2026-12-10083000.db3", false},
  };
  for (const auto& [name, automatic] : cases) EXPECT_EQ(IsAutomaticBackupName(name), automatic) << name;
}

TEST(BackupSchedule, PruningKeepsTheNewestAutomaticBackupsAndTouchesNothingElse) {
  TempFolder folder;
  int age = 0;
  for (const char* name : {"Automatico-2026-12-10.db3", "Automatico-2026-12-01.db3", "Automatico-2026-11-30.db3",
                           "Automatico-2025-12-31.db3", "Diario.db3", "Automatico-nota.db3", "AvulsoBackup.bkp"}) {
    Touch(folder.path() / name);
    fs::last_write_time(folder.path() / name, fs::file_time_type::clock::now() - std::chrono::hours(24 * age++));
  }
  fs::create_directory(folder.path() / "Automatico-2020-01-01.db3");  // a folder is not a backup
  const std::string justWritten = "Automatico-2026-12-10.db3";
  const auto removed = PruneAutomaticBackups(folder.path(), 2, justWritten);
  EXPECT_EQ(std::set<std::string>(removed.begin(), removed.end()),
            (std::set<std::string>{"Automatico-2026-11-30.db3", "Automatico-2025-12-31.db3"}));
  EXPECT_EQ(Names(folder.path()),
            (std::set<std::string>{"Automatico-2026-12-10.db3", "Automatico-2026-12-01.db3", "Diario.db3",
                                   "Automatico-nota.db3", "AvulsoBackup.bkp", "Automatico-2020-01-01.db3"}));
  EXPECT_TRUE(PruneAutomaticBackups(folder.path(), 2, justWritten).empty());
  EXPECT_TRUE(PruneAutomaticBackups(folder.path() / "missing", 1, justWritten).empty());
}

// Two backups named far in the future: the run of today still keeps its own file.
TEST(BackupSchedule, FutureDatedNamesNeverOutliveTheFileJustWritten) {
  TempFolder folder;
  for (const char* name : {"Automatico-2099-01-01.db3", "Automatico-2099-01-02.db3"}) Touch(folder.path() / name);
  const fs::path today = folder.path() / AutomaticBackupName(std::time(nullptr));
  Touch(today);
  EXPECT_TRUE(PruneAutomaticBackups(folder.path(), 1, today.filename().string()).empty());
  EXPECT_TRUE(fs::exists(today));
  EXPECT_EQ(AutomaticBackups(folder.path()), std::vector<fs::path>{today});
}

TEST(BackupSchedule, DueWhenNoAutomaticBackupIsYoungerThanADay) {
  TempFolder folder;
  EXPECT_TRUE(AutomaticBackupDue(folder.path()));
  EXPECT_TRUE(AutomaticBackupDue(folder.path() / "missing"));
  Touch(folder.path() / "Diario.db3");  // a backup of another name does not count
  EXPECT_TRUE(AutomaticBackupDue(folder.path()));
  const fs::path old = folder.path() / "Automatico-2026-01-01.db3";
  Touch(old);
  fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(25));
  EXPECT_TRUE(AutomaticBackupDue(folder.path()));
  fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(23));
  EXPECT_FALSE(AutomaticBackupDue(folder.path()));
}

TEST(BackupSchedule, NextDailyRunIsTheNextOccurrenceOfTheTime) {
  const char* saved = std::getenv("TZ");
  const std::string restore = saved ? saved : "";
  ::setenv("TZ", "<-03>3", 1);
  ::tzset();
  const std::time_t midnightUtc = 1796860800;  // 2026-12-10 00:00 UTC, 2026-12-09 21:00 local
  struct Case {
    std::time_t now;
    int hour, minute;
    std::time_t expected;
  };
  const Case cases[] = {
      {midnightUtc, 22, 0, midnightUtc + 3600},                   // later the same local day
      {midnightUtc, 21, 0, midnightUtc + 24 * 3600},              // exactly now: tomorrow
      {midnightUtc, 3, 30, midnightUtc + 6 * 3600 + 30 * 60},     // after local midnight
      {midnightUtc + 59, 21, 1, midnightUtc + 60},
  };
  for (const Case& c : cases) EXPECT_EQ(NextDailyRun(c.now, c.hour, c.minute), c.expected) << c.hour << ":" << c.minute;
  EXPECT_EQ(AutomaticBackupName(midnightUtc), "Automatico-2026-12-09.db3");
  // An interval run names its time; a second run in the same second does not overwrite the first.
  TempFolder folder;
  const std::string first = IntervalBackupName(folder.path(), midnightUtc);
  EXPECT_EQ(first, "Automatico-2026-12-09-210000.db3");
  Touch(folder.path() / first);
  EXPECT_EQ(IntervalBackupName(folder.path(), midnightUtc), "Automatico-2026-12-09-210000-2.db3");
  if (saved) {
    ::setenv("TZ", restore.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

}  // namespace
}  // namespace quelvar::host
