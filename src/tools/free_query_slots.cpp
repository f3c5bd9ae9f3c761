#include "tools/free_query_slots.h"

#include <condition_variable>
#include <mutex>

#include "formats/errors.h"
#include "tools/safety_settings.h"

namespace quelvar::tools {

namespace {

// The free queries running in this process.
struct Running {
  std::mutex mutex;
  std::condition_variable freed;
  std::uint64_t count = 0;
};

Running& RunningQueries() {
  static Running running;
  return running;
}

}  // namespace

std::string FreeQueriesBusyMessage(std::uint64_t atOnce) {
  return "A consulta livre já tem " + std::to_string(atOnce) + " consultas em andamento (" +
         std::string(kFreeQueriesAtOnceKey) + " em Config1.ini); tente de novo em instantes.";
}

FreeQuerySlot::FreeQuerySlot(std::uint64_t atOnce) {
  Running& running = RunningQueries();
  std::unique_lock lock(running.mutex);
  if (!running.freed.wait_for(lock, kFreeQuerySlotWait, [&] { return running.count < atOnce; }))
    throw Error(FreeQueriesBusyMessage(atOnce));
  ++running.count;
}

FreeQuerySlot::~FreeQuerySlot() {
  Running& running = RunningQueries();
  {
    std::lock_guard lock(running.mutex);
    --running.count;
  }
  running.freed.notify_all();
}

}  // namespace quelvar::tools
