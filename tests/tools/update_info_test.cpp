// The update-information file of the self-update check.

#include <gtest/gtest.h>

#include "tools/update_info.h"

namespace quelvar::tools {
namespace {

const std::string kHash(64, 'a');

TEST(UpdateInfo, ReadsVersionAndFiles) {
  const auto info = ParseUpdateInfo("# comentário\r\n\r\nversion 31\r\nfile 10 " + std::string(64, 'B') +
                                    " quelvar-server\nfile 0 " + kHash + "   LEIAME.txt");
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->version, 31);
  ASSERT_EQ(info->files.size(), 2u);
  EXPECT_EQ(info->files[0].name, "quelvar-server");
  EXPECT_EQ(info->files[0].size, 10u);
  EXPECT_EQ(info->files[0].sha256, std::string(64, 'b'));
  EXPECT_EQ(info->files[1].name, "LEIAME.txt");
  EXPECT_EQ(info->files[1].size, 0u);
}

TEST(UpdateInfo, RefusesMalformedOrUnsafeFiles) {
  const std::string cases[] = {
      "",
      "file 1 " + kHash + " a.txt",                                  // no version
      "version 28\nversion 29",                                      // two versions
      "version -3",
      "version 28x",
      "version 28\nfile 1 " + kHash + " ../a.txt",                   // leaves the folder
      "version 28\nfile 1 " + kHash + " sub/a.txt",
      "version 28\nfile 1 " + kHash + " a.txt\nfile 2 " + kHash + " a.txt",  // repeated name
      "version 28\nfile 1 " + kHash.substr(1) + " a.txt",            // short hash
      "version 28\nfile 1 " + std::string(64, 'g') + " a.txt",       // not hex
      "version 28\nfile 268435457 " + kHash + " a.txt",              // above the cap
      "version 28\nfile -1 " + kHash + " a.txt",
      "version 28\nfile 1 " + kHash + " a b.txt",                    // extra word
      "version 28\nobter a.txt",                                     // unknown line
  };
  for (const std::string& text : cases) EXPECT_FALSE(ParseUpdateInfo(text).has_value()) << text;
  EXPECT_TRUE(ParseUpdateInfo("version 28\nfile 268435456 " + kHash + " a.txt").has_value());
}

TEST(UpdateInfo, FilesLiveBesideTheInformationFile) {
  EXPECT_EQ(SiblingUrl("http://h:8/q/info.txt", "a.bin"), "http://h:8/q/a.bin");
  EXPECT_EQ(SiblingUrl("http://h/q/info.txt?v=2#x", "a.bin"), "http://h/q/a.bin");
  EXPECT_EQ(SiblingUrl("http://h/info", "a.bin"), "http://h/a.bin");
}

}  // namespace
}  // namespace quelvar::tools
