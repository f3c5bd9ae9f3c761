#pragma once
// Direct access to a server's database file from end-to-end tests: fixtures of
// rows the events never write, and checks of what the events stored.

#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace quelvar::test {

// Runs `sql` (one or more statements) on the database file while the server runs.
inline void ExecSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_busy_timeout(db, 10000);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error(message + " in " + sql);
}

// The first column of the first row as text ("<null>", or "<none>" without a row).
inline std::string SqlText(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_busy_timeout(db, 10000);
  sqlite3_stmt* stmt = nullptr;
  std::string out = "<error>";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
    if (sqlite3_step(stmt) == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(stmt, 0);
      out = text ? reinterpret_cast<const char*>(text) : "<null>";
    } else {
      out = "<none>";
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

// Every row of every table of the database file, as text: equal for two files
// that hold the same data, whatever their page layout, journal mode or
// checkpoint state (the live file's bytes change when the log is folded back).
inline std::string DatabaseContent(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_busy_timeout(db, 10000);
  std::string out;
  auto each = [&](const std::string& sql, auto&& row) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      out += "<error: " + std::string(sqlite3_errmsg(db)) + ">";
      return;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) row(stmt);
    sqlite3_finalize(stmt);
  };
  std::vector<std::string> tables;
  each("Select name, sql From sqlite_master Order By name", [&](sqlite3_stmt* st) {
    const auto* name = sqlite3_column_text(st, 0);
    const auto* sql = sqlite3_column_text(st, 1);
    out += std::string(name ? reinterpret_cast<const char*>(name) : "") + ": " +
           (sql ? reinterpret_cast<const char*>(sql) : "") + "\n";
  });
  each("Select name From sqlite_master Where type = 'table' Order By name", [&](sqlite3_stmt* st) {
    tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  });
  for (const std::string& table : tables) {
    out += "[" + table + "]\n";
    each("Select * From \"" + table + "\" Order By rowid", [&](sqlite3_stmt* st) {
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const auto* text = sqlite3_column_text(st, c);
        out += text ? reinterpret_cast<const char*>(text) : "<null>";
        out += '|';
      }
      out += '\n';
    });
  }
  sqlite3_close(db);
  return out;
}

}  // namespace quelvar::test
