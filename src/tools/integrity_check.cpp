#include "tools/integrity_check.h"

#include <sqlite3.h>

#include <chrono>
#include <string_view>
#include <utility>
#include <vector>

#include "data/connect_settings.h"
#include "data/connection_pool.h"
#include "data/database.h"
#include "data/engine_error.h"
#include "data/sqlite_handles.h"
#include "data/tdm.h"
#include "data/writer_lock.h"
#include "tools/database_check.h"

namespace quelvar::tools {

IntegrityValidator::IntegrityValidator(const TDM& dm, std::string databaseFile)
    : dm_(dm), databaseFile_(std::move(databaseFile)) {}

template <typename Action>
auto IntegrityValidator::OnOwnConnection(Action action) {
  try {
    ConnectionPool& pool = dm_.Database1.Pool();
    const ConnectionPool::MaintenanceHold maintenance(pool);
    const JournalChoice journal = pool.Journal();
    // With the rollback journal the connection locks the file exclusively:
    // every lock it takes is kept until the action ends. In the write-ahead
    // log an exclusive connection would need every other connection closed,
    // so there it runs as this server's writer instead: saves wait for it,
    // readers go on reading the last committed state.
    WriterHold writer;
    if (journal == JournalChoice::kWriteAheadLog &&
        !writer.Acquire(pool.Writers(), std::chrono::milliseconds(Database::kBusyTimeoutMs)))
      ThrowEngineError(SQLITE_BUSY);
    SqliteConnection connection =
        OpenConfigured(databaseFile_, journal,
                       journal == JournalChoice::kRollback ? LockingChoice::kExclusive : LockingChoice::kNormal, false);
    return action(connection.get());
  } catch (const EngineError& e) {
    dm_.Log(std::string("Validate Error --> \r") + e.what());
    throw;
  }
}

void IntegrityValidator::Analyse() {
  OnOwnConnection([](sqlite3* db) { RunStatement(db, "ANALYZE"); });
}

bool IntegrityValidator::Check() {
  const std::vector<std::string> rows = OnOwnConnection([](sqlite3* db) { return IntegrityCheckRows(db); });
  const bool passed = IntegrityCheckPassed(rows);
  dm_.Console().integrityChecked(passed);
  if (passed) return true;
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
  OnOwnConnection([](sqlite3* db) {
    RunStatement(db, "VACUUM");
    // The log now holds a copy of every page: fold it back and shrink it when
    // no reader is in the way (when one is, the next checkpoints do it).
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  });
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
