#include "panel/request_timeline.h"

#include <gtest/gtest.h>

namespace quelvar::panel {
namespace {

using namespace std::chrono_literals;
using SystemTime = std::chrono::system_clock::time_point;

TEST(RequestTimeline, CountsAndTimesEachMinuteOfTheLastHour) {
  RequestTimeline timeline;
  const SystemTime base{std::chrono::minutes(29'000'000)};
  timeline.Record(10ms, base + 5s);
  timeline.Record(30ms, base + 50s);
  timeline.Record(7ms, base + 61s);
  const auto hour = timeline.LastHour(base + 90s);
  ASSERT_EQ(hour.size(), RequestTimeline::kMinutes);
  const MinuteFigures& previous = hour[hour.size() - 2];
  const MinuteFigures& last = hour.back();
  EXPECT_EQ(previous.minute, 29'000'000);
  EXPECT_EQ(previous.requests, 2u);
  EXPECT_DOUBLE_EQ(previous.averageMs, 20.0);
  EXPECT_DOUBLE_EQ(previous.longestMs, 30.0);
  EXPECT_EQ(last.requests, 1u);
  EXPECT_EQ(hour.front().requests, 0u);
  EXPECT_EQ(hour.front().minute, 29'000'001 - 59);
}

TEST(RequestTimeline, MinutesOlderThanAnHourAreForgotten) {
  RequestTimeline timeline;
  const SystemTime base{std::chrono::minutes(29'000'000)};
  timeline.Record(10ms, base);
  timeline.Record(10ms, base + 60min);  // the same slot an hour later
  const auto hour = timeline.LastHour(base + 60min);
  std::uint64_t total = 0;
  for (const auto& minute : hour) total += minute.requests;
  EXPECT_EQ(total, 1u);
  EXPECT_EQ(timeline.LastHour(base + 200min).back().requests, 0u);
  for (const auto& minute : timeline.LastHour(base + 200min)) EXPECT_EQ(minute.requests, 0u);
}

}  // namespace
}  // namespace quelvar::panel
