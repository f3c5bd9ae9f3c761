#pragma once
// What the database engine allocates, counted per thread, so that one piece
// of work (a free query) can be held to a memory budget the engine itself
// enforces: every allocation of the engine on that thread (parsing, sorting,
// aggregates, temporary tables kept in memory, the rows it hands out) counts,
// and one that would pass the budget fails as the engine's "out of memory".
//
// InstallEngineMemoryAccounting() puts the counting allocator in front of the
// engine's own, once per process, before the engine is first used (the
// server calls it first thing in main). Without it the budget below counts
// nothing and never refuses.
//
//   EngineMemoryBudget budget(512 << 20);   // this thread, from now on
//   ... run statements ...
//   if (budget.Exceeded()) ...               // an allocation was refused
//
// Memory the thread frees that it had taken before the budget was armed
// counts in its favour; memory freed by other threads is not seen.

#include <cstdint>

namespace quelvar {

// True when the counting allocator is in place (also when it already was);
// false when the engine was already in use and keeps its own allocator.
bool InstallEngineMemoryAccounting();

class EngineMemoryBudget {
 public:
  // Arms a budget of `bytes` for the calling thread (one at a time per thread).
  explicit EngineMemoryBudget(std::uint64_t bytes);
  ~EngineMemoryBudget();  // disarms
  EngineMemoryBudget(const EngineMemoryBudget&) = delete;
  EngineMemoryBudget& operator=(const EngineMemoryBudget&) = delete;

  // A new budget counted from the same start (it may only shrink the room left).
  void SetBytes(std::uint64_t bytes);
  // Bytes the engine holds for this thread beyond what it held when armed.
  std::int64_t Used() const;
  // True once an allocation was refused for passing the budget.
  bool Exceeded() const;
};

}  // namespace quelvar
