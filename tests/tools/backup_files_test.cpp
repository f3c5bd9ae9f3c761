// The backup folder's file names and the listing's size rounding.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/backup_files.h"
#include "tools/backup_listing.h"

namespace quelvar::tools {
namespace {

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

// Pruning keeps the newest of the files it owns (by the date and time in
// their names), never the file just written, and nothing of another name.
TEST(BackupFiles, PruningKeepsTheNewestOwnFilesOnly) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("quelvar-prune-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  for (const char* name : {"K-2026-12-10-080000.db3", "K-2026-12-10-080000-2.db3", "K-2026-12-09-230000.db3",
                           "K-2026-12-11-000000.db3", "Outro.db3", "K-nota.txt"}) {
    std::ofstream(folder / name) << "x";
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
