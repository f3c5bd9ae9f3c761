// The backup folder's file names and the listing's size rounding.

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../data/temp_dir.h"
#include "tools/backup_files.h"
#include "tools/backup_listing.h"

namespace quelvar::tools {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// Pruning a series: `files` (name, hours since written) in a folder dated
// 2026-12-10 (noon, local time), `keep` kept, the first file just written.
TEST(BackupFiles, PruningFollowsTheWritingTimeNeverTheDateInTheName) {
  std::tm noon{};
  noon.tm_year = 2026 - 1900;
  noon.tm_mon = 11;
  noon.tm_mday = 10;
  noon.tm_hour = 12;
  noon.tm_isdst = -1;
  const std::time_t now = std::mktime(&noon);
  struct File {
    std::string name;
    int hoursAgo;
  };
  struct Case {
    const char* what;
    std::vector<File> files;
    int keep;
    std::set<std::string> removed;
  };
  const std::vector<Case> cases = {
      {"the oldest go",
       {{"Automatico-2026-12-10.db3", 0}, {"Automatico-2026-12-09.db3", 24}, {"Automatico-2026-12-08.db3", 48}},
       2,
       {"Automatico-2026-12-08.db3"}},
      {"names dated in the future are neither kept nor removed",
       {{"Automatico-2026-12-10.db3", 0}, {"Automatico-2099-01-01.db3", 1}, {"Automatico-2099-01-02.db3", 1},
        {"Automatico-2026-12-09.db3", 24}},
       1,
       {"Automatico-2026-12-09.db3"}},
      {"the file just written stays though its time says old",
       {{"Automatico-2026-12-10.db3", 1000}, {"Automatico-2026-12-09.db3", 24}, {"Automatico-2026-12-08.db3", 2}},
       1,
       {"Automatico-2026-12-09.db3"}},
      {"a date in the name does not order them",
       {{"Automatico-2026-12-10.db3", 0}, {"Automatico-2026-01-01.db3", 1}, {"Automatico-2026-12-09.db3", 50}},
       2,
       {"Automatico-2026-12-09.db3"}},
      {"other series and other names are never touched",
       {{"Automatico-2026-12-10-120000.db3", 0}, {"AntesDoRestore-2026-12-01.db3", 500}, {"Diario.db3", 500},
        {"Automatico-nota.db3", 500}, {"Automatico-2026-12-01.db3.tmp", 500}, {"Automatico-2026-11-01.db3", 900}},
       1,
       {"Automatico-2026-11-01.db3"}},
  };
  // The series: "Automatico-", a date, anything, ".db3".
  const auto automatic = [](std::string_view name) {
    return name.starts_with("Automatico-") && name.ends_with(".db3") && name.size() > 11 && name[11] >= '0' &&
           name[11] <= '9';
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    for (const File& file : c.files) {
      std::ofstream(dir.path() / file.name) << "x";
      fs::last_write_time(dir.path() / file.name, fs::file_time_type::clock::now() - std::chrono::hours(file.hoursAgo));
    }
    const std::vector<std::string> removed = PruneBackups(dir.path(), automatic, c.keep, c.files.front().name, now);
    EXPECT_EQ(std::set<std::string>(removed.begin(), removed.end()), c.removed);
    for (const File& file : c.files) EXPECT_EQ(Names(dir.path()).count(file.name), c.removed.count(file.name) ? 0u : 1u) << file.name;
  }
}

TEST(BackupFiles, OnlyPlainNamesStayInsideTheFolder) {
  struct Case {
    std::string name;
    bool plain;
  } cases[] = {
      {"Seg.db3", true},         {"AvulsoBackup.bkp", true}, {"a b.c.db3", true},  {"", false},
      {".", false},              {"..", false},              {"../x.db3", false},  {"a/b.db3", false},
      {"a\\b.db3", false},       {"/etc/passwd", false},     {"x..db3", false},    {std::string("a\0b", 3), false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPlainFileName(c.name), c.plain) << c.name;
  EXPECT_THROW(RequirePlainFileName("../x"), std::exception);
  EXPECT_NO_THROW(RequirePlainFileName("x.db3"));
}

// Pruning keeps the most recently written of the files it owns, never the
// file just written, and nothing of another name.
TEST(BackupFiles, PruningKeepsTheNewestOwnFilesOnly) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("quelvar-prune-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  // Written in this order, the first an hour ago.
  int minutes = 60;
  for (const char* name : {"K-2026-12-09-230000.db3", "K-2026-12-10-080000.db3", "K-2026-12-10-080000-2.db3",
                           "K-2026-12-11-000000.db3", "Outro.db3", "K-nota.txt"}) {
    std::ofstream(folder / name) << "x";
    fs::last_write_time(folder / name, fs::file_time_type::clock::now() - std::chrono::minutes(minutes -= 10));
  }
  fs::create_directory(folder / "K-2020-01-01-000000.db3");  // a folder is not a backup
  auto owns = [](std::string_view name) { return name.starts_with("K-2") && name.ends_with(".db3"); };
  auto names = [&] {
    std::set<std::string> all;
    for (const auto& e : fs::directory_iterator(folder)) all.insert(e.path().filename().string());
    return all;
  };
  EXPECT_EQ(BackupsNamed(folder, owns).front().filename(), "K-2026-12-11-000000.db3");
  EXPECT_EQ(PruneBackups(folder, owns, 2, "K-2026-12-09-230000.db3"),
            (std::vector<std::string>{"K-2026-12-10-080000.db3"}));
  EXPECT_EQ(names(), (std::set<std::string>{"K-2026-12-11-000000.db3", "K-2026-12-10-080000-2.db3",
                                            "K-2026-12-09-230000.db3", "Outro.db3", "K-nota.txt",
                                            "K-2020-01-01-000000.db3"}));
  EXPECT_EQ(PruneBackups(folder, owns, 0), (std::vector<std::string>{"K-2026-12-10-080000-2.db3",
                                                                     "K-2026-12-09-230000.db3"}));
  EXPECT_TRUE(PruneBackups(folder / "missing", owns, 1).empty());
  fs::remove_all(folder);
}

TEST(BackupListing, SizesAreKibRoundedHalfToEven) {
  struct Case {
    std::uintmax_t bytes;
    std::int64_t kib;
  } cases[] = {
      {0, 0},    {511, 0},  {512, 0},  {513, 1},  {1023, 1}, {1024, 1},
      {1536, 2}, {2560, 2}, {3584, 4}, {2561, 3}, {4608, 4}, {5632, 6},
  };
  for (const Case& c : cases) EXPECT_EQ(SizeInKiB(c.bytes), c.kib) << c.bytes;
}

}  // namespace
}  // namespace quelvar::tools
