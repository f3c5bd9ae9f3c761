#include "data/shared_text.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "data/database_path.h"

namespace quelvar {
namespace {

TEST(SharedText, SnapshotOutlivesReplacement) {
  SharedText text("old");
  const auto before = text.get();
  text.set("new");
  EXPECT_EQ(*before, "old");
  EXPECT_EQ(*text.get(), "new");
}

TEST(DatabasePath, IsASharedText) {
  DatabasePath path("/data/QuelvarDB.db3");
  EXPECT_EQ(*path.get(), "/data/QuelvarDB.db3");
  path.set("/other.db3");
  EXPECT_EQ(*path.get(), "/other.db3");
}

TEST(SharedText, ReadersAlwaysSeeAWholeText) {
  const std::string a(4096, 'a');
  const std::string b(8192, 'b');
  SharedText text(a);
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!done) {
        const auto seen = text.get();
        if (*seen != a && *seen != b) ++torn;
      }
    });
  }
  for (int i = 0; i < 20000; ++i) text.set(i % 2 == 0 ? b : a);
  done = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace quelvar
