#include "service/health_check.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "data/shipped_schema.h"
#include "data/sqlite_handles.h"

namespace quelvar::service {
namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

std::string EngineMessage(sqlite3* db, int code) {
  if (db != nullptr) return sqlite3_errmsg(db);
  return sqlite3_errstr(code);
}

}  // namespace

std::vector<std::string> DeclaredTables(std::string_view schema) {
  std::vector<std::string> tables;
  const std::string upper = Upper(schema);
  constexpr std::string_view kCreate = "CREATE TABLE";
  for (std::size_t at = upper.find(kCreate); at != std::string::npos; at = upper.find(kCreate, at + 1)) {
    if (at > 0 && IsNameChar(upper[at - 1])) continue;
    std::size_t i = at + kCreate.size();
    while (i < schema.size() && std::isspace(static_cast<unsigned char>(schema[i]))) ++i;
    if (upper.compare(i, 13, "IF NOT EXISTS") == 0) {
      i += 13;
      while (i < schema.size() && std::isspace(static_cast<unsigned char>(schema[i]))) ++i;
    }
    std::size_t end = i;
    while (end < schema.size() && IsNameChar(schema[end])) ++end;
    if (end > i) tables.emplace_back(schema.substr(i, end - i));
  }
  return tables;
}

HealthReport CheckDatabaseHealth(const std::string& databaseFile, int busyMs) {
  static const std::vector<std::string> kTables = DeclaredTables(ShippedSchema());
  return CheckDatabaseHealth(databaseFile, kTables, busyMs);
}

HealthReport CheckDatabaseHealth(const std::string& databaseFile, const std::vector<std::string>& tables,
                                 int busyMs) {
  HealthReport report;
  if (databaseFile.empty()) {
    report.reason = "no database file is configured";
    return report;
  }
  sqlite3* raw = nullptr;
  // Read-write without create: a missing file is reported, never made.
  const int opened = sqlite3_open_v2(databaseFile.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  SqliteConnection db(raw);
  if (opened != SQLITE_OK) {
    report.reason = "cannot open the database " + databaseFile + ": " + EngineMessage(raw, opened);
    return report;
  }
  sqlite3_busy_timeout(db.get(), busyMs);
  sqlite3_stmt* rawStatement = nullptr;
  const char* sql = "SELECT name FROM sqlite_master WHERE type = 'table'";
  int code = sqlite3_prepare_v2(db.get(), sql, -1, &rawStatement, nullptr);
  SqliteStatement statement(rawStatement);
  std::set<std::string> present;
  while (code == SQLITE_OK || code == SQLITE_ROW) {
    code = sqlite3_step(statement.get());
    if (code == SQLITE_ROW) {
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
      if (name != nullptr) present.insert(Upper(name));
    }
  }
  if (code != SQLITE_DONE) {
    report.reason = "the database " + databaseFile + " does not answer: " + EngineMessage(db.get(), code);
    return report;
  }
  std::string missing;
  for (const std::string& table : tables) {
    if (present.count(Upper(table)) != 0) continue;
    if (!missing.empty()) missing += ", ";
    missing += table;
  }
  if (!missing.empty()) {
    report.reason = "the database " + databaseFile + " lacks the tables " + missing;
    return report;
  }
  report.healthy = true;
  report.reason = "ok";
  return report;
}

}  // namespace quelvar::service
