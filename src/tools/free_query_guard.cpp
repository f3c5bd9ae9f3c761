#include "tools/free_query_guard.h"

#include <array>

#include "data/engine_error.h"
#include "data/sqlite_handles.h"
#include "formats/errors.h"
#include "formats/text_codec.h"
#include "formats/variant.h"

namespace quelvar::tools {

namespace {

// VM instructions between two looks at the clock.
constexpr int kProgressInstructions = 1000;

// Informational PRAGMAs whose argument only names what to report.
constexpr std::array<std::string_view, 16> kReportPragmas = {
    "table_info",    "table_xinfo",   "table_list",       "index_list",   "index_info",    "index_xinfo",
    "foreign_key_list", "foreign_key_check", "integrity_check", "quick_check", "database_list",
    "collation_list", "function_list", "module_list",    "pragma_list",  "compile_options"};
// PRAGMAs that read a value without an argument and set it with one.
constexpr std::array<std::string_view, 9> kValuePragmas = {"user_version",   "schema_version", "application_id",
                                                           "page_size",      "page_count",     "freelist_count",
                                                           "encoding",       "foreign_keys",   "data_version"};

// Functions that reach into the engine itself (addresses, code) rather than the data.
constexpr std::array<std::string_view, 2> kEngineFunctions = {"fts3_tokenizer", "load_extension"};

template <std::size_t N>
bool Listed(const std::array<std::string_view, N>& list, const char* name) {
  if (!name) return false;
  for (std::string_view entry : list)
    if (EqualsIgnoreCase(entry, name)) return true;
  return false;
}

// Memory of one result value held in a record set.
std::uint64_t ValueBytes(sqlite3_stmt* statement, int column) {
  std::uint64_t bytes = sizeof(Variant);
  const int type = sqlite3_column_type(statement, column);
  // Only texts and blobs are asked their size: asking a number would convert it.
  if (type == SQLITE_TEXT || type == SQLITE_BLOB) bytes += static_cast<std::uint64_t>(sqlite3_column_bytes(statement, column));
  return bytes;
}

}  // namespace

// The limits the guard sets, and the value each takes while it lives (the
// text length and the largest value are set from the budgets).
constexpr std::array<int, 4> kLimitIds = {SQLITE_LIMIT_LENGTH, SQLITE_LIMIT_SQL_LENGTH, SQLITE_LIMIT_EXPR_DEPTH,
                                          SQLITE_LIMIT_VARIABLE_NUMBER};
constexpr int kExpressionDepth = 200;
constexpr int kParameters = 100;

FreeQueryGuard::FreeQueryGuard(sqlite3* db, FreeQueryBudget budget)
    : db_(db), budget_(budget), engineMemory_(budget.memoryMiB * 1024 * 1024) {
  deadline_ = std::chrono::steady_clock::now() + budget_.time;
  for (std::size_t i = 0; i < kLimitIds.size(); ++i) previousLimits_[i] = sqlite3_limit(db_, kLimitIds[i], -1);
  const auto lower = [this](int id, std::uint64_t value) {
    if (value < static_cast<std::uint64_t>(sqlite3_limit(db_, id, -1))) sqlite3_limit(db_, id, static_cast<int>(value));
  };
  lower(SQLITE_LIMIT_LENGTH, BudgetBytes());
  lower(SQLITE_LIMIT_SQL_LENGTH, kFreeQueryMaxTextBytes);
  lower(SQLITE_LIMIT_EXPR_DEPTH, kExpressionDepth);
  lower(SQLITE_LIMIT_VARIABLE_NUMBER, kParameters);
  // Sorts and temporary tables stay in memory, within the budget, never on disk.
  sqlite3_exec(db_, "PRAGMA temp_store = MEMORY", nullptr, nullptr, nullptr);
  sqlite3_set_authorizer(db_, &FreeQueryGuard::Authorize, this);
  sqlite3_progress_handler(db_, kProgressInstructions, &FreeQueryGuard::Progress, this);
  sqlite3_trace_v2(db_, SQLITE_TRACE_ROW, &FreeQueryGuard::Trace, this);
}

FreeQueryGuard::~FreeQueryGuard() {
  sqlite3_trace_v2(db_, 0, nullptr, nullptr);
  sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  sqlite3_set_authorizer(db_, nullptr, nullptr);
  sqlite3_exec(db_, "PRAGMA temp_store = DEFAULT", nullptr, nullptr, nullptr);
  for (std::size_t i = 0; i < kLimitIds.size(); ++i) sqlite3_limit(db_, kLimitIds[i], previousLimits_[i]);
}

int FreeQueryGuard::Authorize(void* self, int action, const char* a, const char* b, const char*, const char*) {
  auto& guard = *static_cast<FreeQueryGuard*>(self);
  bool allowed = false;
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_RECURSIVE: allowed = true; break;
    case SQLITE_FUNCTION: allowed = !Listed(kEngineFunctions, b); break;
    case SQLITE_PRAGMA: allowed = Listed(kReportPragmas, a) || (Listed(kValuePragmas, a) && b == nullptr); break;
    default: allowed = false;
  }
  if (allowed) return SQLITE_OK;
  guard.refused_ = true;
  return SQLITE_DENY;
}

int FreeQueryGuard::Progress(void* self) {
  auto& guard = *static_cast<FreeQueryGuard*>(self);
  if (!guard.armed_) return 0;
  if (guard.exceeded_ != Exceeded::kNone) return 1;
  if (guard.engineMemory_.Exceeded()) {
    guard.exceeded_ = Exceeded::kMemory;
    return 1;
  }
  if (std::chrono::steady_clock::now() < guard.deadline_) return 0;
  guard.exceeded_ = Exceeded::kTime;
  return 1;
}

int FreeQueryGuard::Trace(unsigned kind, void* self, void* statement, void*) {
  auto& guard = *static_cast<FreeQueryGuard*>(self);
  if (kind != SQLITE_TRACE_ROW || !guard.armed_) return 0;
  auto* st = static_cast<sqlite3_stmt*>(statement);
  const int columns = sqlite3_column_count(st);
  for (int c = 0; c < columns; ++c) guard.resultBytes_ += ValueBytes(st, c);
  const std::uint64_t replyCost = guard.resultBytes_ * kReplyCostFactor;
  if (replyCost > guard.BudgetBytes()) {
    if (guard.exceeded_ == Exceeded::kNone) guard.exceeded_ = Exceeded::kMemory;
    sqlite3_interrupt(guard.db_);
  } else {
    // What the reply will take is no longer the engine's to use.
    guard.engineMemory_.SetBytes(guard.BudgetBytes() - replyCost);
  }
  return 0;
}

void FreeQueryGuard::RequireReadOnly(const std::string& sql) {
  if (sql.size() > kFreeQueryMaxTextBytes) throw Error(std::string(kFreeQueryTextTooLong));
  const char* at = sql.data();
  const char* const end = sql.data() + sql.size();
  while (at < end) {
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    refused_ = false;
    const int rc = sqlite3_prepare_v2(db_, at, static_cast<int>(end - at), &raw, &tail);
    SqliteStatement statement(raw);
    if (refused_) throw Error(std::string(kFreeQueryReadOnly));
    if (const std::string budget = ExceededMessage(rc); rc != SQLITE_OK && !budget.empty()) throw Error(budget);
    if (rc != SQLITE_OK) ThrowEngineError(db_);
    if (statement && !sqlite3_stmt_readonly(raw)) throw Error(std::string(kFreeQueryReadOnly));
    if (!tail || tail <= at) break;
    at = tail;
  }
}

void FreeQueryGuard::Start() {
  resultBytes_ = 0;
  exceeded_ = Exceeded::kNone;
  armed_ = true;
}

std::string FreeQueryGuard::ExceededMessage(int engineCode) const {
  const bool memoryRefused = engineCode == SQLITE_TOOBIG || (engineCode == SQLITE_NOMEM && engineMemory_.Exceeded());
  const Exceeded exceeded = exceeded_ == Exceeded::kNone && memoryRefused ? Exceeded::kMemory : exceeded_;
  switch (exceeded) {
    case Exceeded::kTime:
      return "A consulta livre passou do limite de tempo de " + std::to_string(budget_.time.count()) + " s (" +
             std::string(kFreeQuerySecondsKey) + " em Config1.ini) e foi interrompida.";
    case Exceeded::kMemory:
      return "A consulta livre passou do limite de memória de " + std::to_string(budget_.memoryMiB) + " MiB (" +
             std::string(kFreeQueryMemoryKey) + " em Config1.ini) e foi interrompida.";
    case Exceeded::kNone: break;
  }
  return {};
}

}  // namespace quelvar::tools
