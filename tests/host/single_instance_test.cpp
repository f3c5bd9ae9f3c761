#include "host/single_instance.h"

#include <stdlib.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace quelvar::host {
namespace {

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "quelvar-lock-XXXXXX").string();
    folder_ = ::mkdtemp(pattern.data());
    ::setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  std::filesystem::path folder_;
};

TEST_F(SingleInstanceTest, LockFileLivesInTheRuntimeFolder) {
  EXPECT_EQ(SingleInstanceLock::LockPath(), folder_ / "SoftServQuelvar1.OnlyOne");
  ::setenv("XDG_RUNTIME_DIR", "", 1);
  EXPECT_EQ(SingleInstanceLock::LockPath(), std::filesystem::path("/tmp/SoftServQuelvar1.OnlyOne"));
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(SingleInstanceLock::LockPath(), std::filesystem::path("/tmp/SoftServQuelvar1.OnlyOne"));
}

TEST_F(SingleInstanceTest, SecondHolderIsRefusedUntilTheFirstEnds) {
  {
    SingleInstanceLock first;
    EXPECT_EQ(first.Acquire(), SingleInstanceLock::Outcome::Acquired);
    EXPECT_EQ(first.Acquire(), SingleInstanceLock::Outcome::Acquired);  // already held by itself
    EXPECT_TRUE(std::filesystem::exists(folder_ / "SoftServQuelvar1.OnlyOne"));

    SingleInstanceLock second;
    EXPECT_EQ(second.Acquire(), SingleInstanceLock::Outcome::HeldElsewhere);
  }
  SingleInstanceLock third;
  EXPECT_EQ(third.Acquire(), SingleInstanceLock::Outcome::Acquired);
}

TEST_F(SingleInstanceTest, MissingFolderMakesTheLockUnavailable) {
  ::setenv("XDG_RUNTIME_DIR", (folder_ / "missing").c_str(), 1);
  SingleInstanceLock lock;
  EXPECT_EQ(lock.Acquire(), SingleInstanceLock::Outcome::Unavailable);
  EXPECT_NE(lock.error().find("SoftServQuelvar1.OnlyOne"), std::string::npos);
}

}  // namespace
}  // namespace quelvar::host
