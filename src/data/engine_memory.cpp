#include "data/engine_memory.h"

#include <sqlite3.h>

#include <mutex>

namespace quelvar {

namespace {

// The engine's own allocator, set once by the installation below and only
// read afterwards.
sqlite3_mem_methods base{};

// The calling thread's count and budget.
struct ThreadAccount {
  std::int64_t held = 0;        // bytes allocated minus bytes freed on this thread
  std::int64_t armedAt = 0;     // `held` when the budget was armed
  std::int64_t limit = -1;      // bytes beyond armedAt; -1: no budget
  bool exceeded = false;
};
thread_local ThreadAccount account;

bool Refuse(std::int64_t more) {
  if (account.limit < 0 || account.held - account.armedAt + more <= account.limit) return false;
  account.exceeded = true;
  return true;
}

void* CountedMalloc(int bytes) {
  if (Refuse(bytes)) return nullptr;
  void* block = base.xMalloc(bytes);
  if (block) account.held += base.xSize(block);
  return block;
}

void CountedFree(void* block) {
  if (block) account.held -= base.xSize(block);
  base.xFree(block);
}

void* CountedRealloc(void* block, int bytes) {
  const int before = block ? base.xSize(block) : 0;
  if (bytes > before && Refuse(bytes - before)) return nullptr;
  void* moved = base.xRealloc(block, bytes);
  if (moved) account.held += base.xSize(moved) - before;
  return moved;
}

int Size(void* block) { return base.xSize(block); }
int Roundup(int bytes) { return base.xRoundup(bytes); }
int Init(void* data) { return base.xInit(data); }
void Shutdown(void* data) { base.xShutdown(data); }

}  // namespace

bool InstallEngineMemoryAccounting() {
  static std::once_flag once;
  static bool installed = false;
  std::call_once(once, [] {
    if (sqlite3_config(SQLITE_CONFIG_GETMALLOC, &base) != SQLITE_OK) return;
    sqlite3_mem_methods counted = base;
    counted.xMalloc = CountedMalloc;
    counted.xFree = CountedFree;
    counted.xRealloc = CountedRealloc;
    counted.xSize = Size;
    counted.xRoundup = Roundup;
    counted.xInit = Init;
    counted.xShutdown = Shutdown;
    installed = sqlite3_config(SQLITE_CONFIG_MALLOC, &counted) == SQLITE_OK;
  });
  return installed;
}

EngineMemoryBudget::EngineMemoryBudget(std::uint64_t bytes) {
  account.armedAt = account.held;
  account.exceeded = false;
  SetBytes(bytes);
}

EngineMemoryBudget::~EngineMemoryBudget() { account.limit = -1; }

void EngineMemoryBudget::SetBytes(std::uint64_t bytes) {
  constexpr std::uint64_t kMost = std::uint64_t{1} << 62;
  account.limit = static_cast<std::int64_t>(bytes < kMost ? bytes : kMost);
}

std::int64_t EngineMemoryBudget::Used() const { return account.held - account.armedAt; }

bool EngineMemoryBudget::Exceeded() const { return account.exceeded; }

}  // namespace quelvar
