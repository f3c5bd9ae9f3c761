#include "tools/integrity_check.h"

#include <sqlite3.h>

#include <string_view>
#include <utility>
#include <vector>

#include "data/database.h"
#include "data/engine_error.h"
#include "data/sqlite_handles.h"
#include "data/tdm.h"

namespace quelvar::tools {

namespace {

constexpr const char* kValidatorPragmas[] = {
    "PRAGMA cache_size = 10000",
    "PRAGMA locking_mode = Exclusive",
    "PRAGMA synchronous = Off",
    "PRAGMA journal_mode = Delete",
    "PRAGMA foreign_keys = On",
};

void RunOn(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowEngineError(db);
}

SqliteConnection OpenExclusive(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) ThrowEngineError(SQLITE_CANTOPEN);
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  SqliteConnection connection(raw);
  if (rc != SQLITE_OK) {
    if (raw) ThrowEngineError(raw);
    ThrowEngineError(rc);
  }
  sqlite3_busy_timeout(raw, Database::kBusyTimeoutMs);
  for (const char* pragma : kValidatorPragmas) RunOn(raw, pragma);
  return connection;
}

// The text of every row of the check's result.
std::vector<std::string> CheckRows(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &raw, nullptr) != SQLITE_OK) ThrowEngineError(db);
  SqliteStatement statement(raw);
  std::vector<std::string> rows;
  for (;;) {
    const int rc = sqlite3_step(raw);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) ThrowEngineError(db);
    const unsigned char* text = sqlite3_column_text(raw, 0);
    rows.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
  }
  return rows;
}

bool IsOk(std::string_view text) {
  return text.size() == 2 && (text[0] == 'o' || text[0] == 'O') && (text[1] == 'k' || text[1] == 'K');
}

}  // namespace

IntegrityValidator::IntegrityValidator(const TDM& dm, std::string databaseFile)
    : dm_(dm), databaseFile_(std::move(databaseFile)) {}

template <typename Action>
auto IntegrityValidator::OnOwnConnection(Action action) {
  try {
    SqliteConnection connection = OpenExclusive(databaseFile_);
    return action(connection.get());
  } catch (const EngineError& e) {
    dm_.Log(std::string("Validate Error --> \r") + e.what());
    throw;
  }
}

void IntegrityValidator::Analyse() {
  OnOwnConnection([](sqlite3* db) { RunOn(db, "ANALYZE"); });
}

bool IntegrityValidator::Check() {
  const std::vector<std::string> rows = OnOwnConnection([](sqlite3* db) { return CheckRows(db); });
  if (rows.empty() || (rows.size() == 1 && IsOk(rows.front()))) return true;
  for (const std::string& row : rows) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = row.find('\n', start);
      dm_.Log("Validate MSG: \r" + row.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  return false;
}

void IntegrityValidator::Compact() {
  OnOwnConnection([](sqlite3* db) { RunOn(db, "VACUUM"); });
}

void ReordenaBanco(TDM& dm, std::string& answer) {
  IntegrityValidator validator(dm, dm.DatabaseFile());
  validator.Analyse();
  if (validator.Check()) answer = "OK";
  validator.Compact();
}

void Reordena(TDM& dm, TDWParams& params, std::string& /*result*/) {
  try {
    std::string answer;
    ReordenaBanco(dm, answer);
    params.Item("Resposta").SetAsString(answer);
  } catch (const std::exception& e) {
    dm.Log(std::string("Reordena --> \r") + e.what());
    if (TJSONParam* resposta = params.GetRecName("Resposta"))
      resposta->SetAsString(std::string("Ocorreu um erro no teste de integridade \r") + e.what());
  }
}

}  // namespace quelvar::tools
