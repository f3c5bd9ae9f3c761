#pragma once
// What the free query may do on the module's connection: read, within a time
// and a memory budget.
//
// While a guard lives, the connection
// - refuses a statement text over kFreeQueryMaxTextBytes, and limits what
//   one statement may hold once parsed (expression depth, parameters);
// - refuses, at prepare time, every action but reading tables, calling
//   functions (not those that reach into the engine itself), recursive
//   queries and a short list of informational PRAGMAs (a PRAGMA that sets a
//   value is refused);
// - stops a statement, through the engine's progress handler, once the time
//   budget has passed, counted from the guard's creation (the preparing
//   included);
// - holds the engine's own allocations on this thread (parsing, sorting,
//   aggregates, temporary storage, which stays in memory) to the memory
//   budget, less what the rows handed out will cost in the reply (values and
//   their bytes, kReplyCostFactor times): what passes it stops the statement;
//   no single text or blob may be larger than that budget either.
// The destructor removes the handlers and limits again (the connection may
// be reused).

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <sqlite3.h>

#include "data/engine_memory.h"
#include "tools/safety_settings.h"

namespace quelvar::tools {

inline constexpr std::string_view kFreeQueryReadOnly =
    "A consulta livre aceita somente comandos de leitura; o comando foi recusado.";
inline constexpr std::string_view kFreeQueryTextTooLong =
    "O texto da consulta livre passa do limite de 1 MiB e foi recusado.";
// Longest statement text accepted.
inline constexpr std::size_t kFreeQueryMaxTextBytes = 1u << 20;
// What one byte of a row handed out costs until the reply has left: the
// record set, the reply's text and its compressed copy.
inline constexpr std::uint64_t kReplyCostFactor = 3;

class FreeQueryGuard {
 public:
  FreeQueryGuard(sqlite3* db, FreeQueryBudget budget);
  ~FreeQueryGuard();
  FreeQueryGuard(const FreeQueryGuard&) = delete;
  FreeQueryGuard& operator=(const FreeQueryGuard&) = delete;

  // Prepares every statement of `sql` and raises Error(kFreeQueryReadOnly)
  // unless the engine reports each as read-only and the rules above allow
  // it. Engine errors of the text (syntax) raise EngineError.
  void RequireReadOnly(const std::string& sql);

  // Arms the row count for the statement about to run.
  void Start();

  // After a statement failed with the engine's result code `engineCode`:
  // the message naming the budget it passed, or "" when no budget was passed.
  std::string ExceededMessage(int engineCode) const;

 private:
  static int Authorize(void* self, int action, const char* a, const char* b, const char* c, const char* d);
  static int Progress(void* self);
  static int Trace(unsigned kind, void* self, void* statement, void* unused);

  enum class Exceeded { kNone, kTime, kMemory };

  std::uint64_t BudgetBytes() const { return budget_.memoryMiB * 1024 * 1024; }

  sqlite3* db_;
  FreeQueryBudget budget_;
  EngineMemoryBudget engineMemory_;
  std::array<int, 4> previousLimits_{};
  std::chrono::steady_clock::time_point deadline_{};
  std::uint64_t resultBytes_ = 0;
  Exceeded exceeded_ = Exceeded::kNone;
  bool refused_ = false;
  bool armed_ = false;
};

}  // namespace quelvar::tools
