#pragma once
// Owning handles of the engine's connection and statement objects.

#include <sqlite3.h>

#include <memory>

namespace quelvar {

struct SqliteConnectionCloser {
  // Closes once every statement of the connection is finalised; an open
  // transaction is rolled back by the engine.
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using SqliteConnection = std::unique_ptr<sqlite3, SqliteConnectionCloser>;

struct SqliteStatementFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer>;

}  // namespace quelvar
