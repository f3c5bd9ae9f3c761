// The backup folder's file names and the listing's size rounding.

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
