#pragma once
// What the free query may do on the module's connection: read, within a time
// and a result-memory budget.
//
// While a guard lives, the connection
// - refuses, at prepare time, every action but reading tables, calling
//   functions, recursive queries and a short list of informational PRAGMAs
//   (a PRAGMA that sets a value is refused);
// - stops a statement, through the engine's progress handler, once the time
//   budget has passed;
// - adds up the rows a statement hands out (values and their bytes) and stops
//   it once they pass the memory budget; no single text or blob the engine
//   builds may be larger than that budget either.
// The destructor removes the handlers again (the connection may be reused).

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include <sqlite3.h>

#include "tools/safety_settings.h"

namespace quelvar::tools {

inline constexpr std::string_view kFreeQueryReadOnly =
    "A consulta livre aceita somente comandos de leitura; o comando foi recusado.";

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

  // Arms the budgets: the time budget counts from here.
  void Start();

  // After a statement failed with the engine's result code `engineCode`:
  // the message naming the budget it passed, or "" when no budget was passed.
  std::string ExceededMessage(int engineCode) const;

 private:
  static int Authorize(void* self, int action, const char* a, const char* b, const char* c, const char* d);
  static int Progress(void* self);
  static int Trace(unsigned kind, void* self, void* statement, void* unused);

  enum class Exceeded { kNone, kTime, kMemory };

  sqlite3* db_;
  FreeQueryBudget budget_;
  int previousLengthLimit_ = 0;
  std::chrono::steady_clock::time_point deadline_{};
  std::uint64_t resultBytes_ = 0;
  Exceeded exceeded_ = Exceeded::kNone;
  bool refused_ = false;
  bool armed_ = false;
};

}  // namespace quelvar::tools
