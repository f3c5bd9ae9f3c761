#include "panel/recent_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace quelvar::panel {
namespace {

using namespace std::chrono_literals;

struct RecordingConsole : OperatorConsole {
  void countModule() override { ++modules; }
  void log(std::string entry) override { entries.push_back(std::move(entry)); }
  int modules = 0;
  std::vector<std::string> entries;
};

std::string LevelByPrefix(std::string_view entry) { return entry.rfind("E:", 0) == 0 ? "ERROR" : "INFO"; }

TEST(RecentLog, PassesEverythingOnUnchanged) {
  RecordingConsole inner;
  RecentLog log(inner, LevelByPrefix);
  log.countModule();
  log.countModule();
  log.log("Backup --> \r\nfalhou");
  EXPECT_EQ(inner.modules, 2);
  EXPECT_EQ(log.Modules(), 2u);
  ASSERT_EQ(inner.entries.size(), 1u);
  EXPECT_EQ(inner.entries[0], "Backup --> \r\nfalhou");
}

TEST(RecentLog, KeepsTheNewestEntriesNumberedWithTheirLevel) {
  RecordingConsole inner;
  RecentLog log(inner, LevelByPrefix, 3);
  for (const char* entry : {"a", "E:b", "c", "d", "E:e"}) log.log(entry);
  const auto kept = log.After(0);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0].number, 3u);
  EXPECT_EQ(kept[0].text, "c");
  EXPECT_EQ(kept[2].text, "E:e");
  EXPECT_EQ(kept[2].level, "ERROR");
  EXPECT_EQ(kept[1].level, "INFO");
  EXPECT_EQ(log.After(4).size(), 1u);
  EXPECT_TRUE(log.After(5).empty());
  EXPECT_EQ(inner.entries.size(), 5u);
}

TEST(RecentLog, AHostLineIsKeptWithItsOwnLevelAndNotPassedOn) {
  RecordingConsole inner;
  RecentLog log(inner, LevelByPrefix);
  log.log("a");
  log.Keep("scheduled backups are off: x", "ERROR");
  log.integrityChecked(true);
  const auto kept = log.After(0);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[1].number, 2u);
  EXPECT_EQ(kept[1].level, "ERROR");
  EXPECT_EQ(kept[1].text, "scheduled backups are off: x");
  EXPECT_EQ(inner.entries, std::vector<std::string>{"a"});  // the console showed it already
}

TEST(RecentLog, KeepsAtMostABoundedPartOfAHugeEntry) {
  RecordingConsole inner;
  RecentLog log(inner, LevelByPrefix);
  log.log(std::string(RecentLog::kMaxKeptEntryBytes * 4, 'x'));
  EXPECT_EQ(log.After(0).at(0).text.size(), RecentLog::kMaxKeptEntryBytes);
  EXPECT_EQ(inner.entries.at(0).size(), RecentLog::kMaxKeptEntryBytes * 4);
}

TEST(RecentLog, AWaiterWakesOnTheNextEntry) {
  RecordingConsole inner;
  RecentLog log(inner, LevelByPrefix);
  log.log("first");
  std::thread writer([&] {
    std::this_thread::sleep_for(50ms);
    log.log("second");
  });
  EXPECT_TRUE(log.WaitAfter(1, 60s));
  writer.join();
  EXPECT_EQ(log.After(1).at(0).text, "second");
}

TEST(RecentLog, WaitersAreBounded) {
  RecordingConsole inner;
  RecentLog log(inner, LevelByPrefix, 10, 1);
  // (It may find the place taken by the probes below for a moment: it asks again.)
  std::thread first([&] {
    while (!log.WaitAfter(0, 60s)) std::this_thread::sleep_for(1ms);
  });
  // The second waiter is refused while the first waits.
  bool refused = false;
  for (int attempt = 0; attempt < 2000 && !refused; ++attempt) {
    refused = !log.WaitAfter(0, 1ms);
    if (!refused) std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(refused);
  log.Wake();
  first.join();
  EXPECT_TRUE(log.WaitAfter(0, 1ms));  // the place is free again
}

}  // namespace
}  // namespace quelvar::panel
