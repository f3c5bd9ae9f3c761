#include "panel/request_timeline.h"

#include <algorithm>

namespace quelvar::panel {
namespace {

std::int64_t MinuteOf(std::chrono::system_clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::minutes>(when.time_since_epoch()).count();
}

}  // namespace

void RequestTimeline::Record(std::chrono::steady_clock::duration took, std::chrono::system_clock::time_point now) {
  const std::int64_t minute = MinuteOf(now);
  const double ms = std::chrono::duration<double, std::milli>(took).count();
  std::lock_guard guard(lock_);
  Slot& slot = slots_[static_cast<std::size_t>(minute % static_cast<std::int64_t>(kMinutes))];
  if (slot.minute != minute) slot = Slot{minute, 0, 0, 0};
  ++slot.requests;
  slot.totalMs += ms;
  slot.longestMs = std::max(slot.longestMs, ms);
}

std::vector<MinuteFigures> RequestTimeline::LastHour(std::chrono::system_clock::time_point now) const {
  const std::int64_t last = MinuteOf(now);
  std::vector<MinuteFigures> figures;
  figures.reserve(kMinutes);
  std::lock_guard guard(lock_);
  for (std::int64_t minute = last - static_cast<std::int64_t>(kMinutes) + 1; minute <= last; ++minute) {
    MinuteFigures point;
    point.minute = minute;
    const Slot& slot = slots_[static_cast<std::size_t>(minute % static_cast<std::int64_t>(kMinutes))];
    if (slot.minute == minute && slot.requests > 0) {
      point.requests = slot.requests;
      point.averageMs = slot.totalMs / static_cast<double>(slot.requests);
      point.longestMs = slot.longestMs;
    }
    figures.push_back(point);
  }
  return figures;
}

}  // namespace quelvar::panel
