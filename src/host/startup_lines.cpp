#include "host/startup_lines.h"

#include <sqlite3.h>

#include <exception>

#include "data/database.h"
#include "host/server_control.h"

namespace quelvar::host {

std::string JournalModeOf(const std::string& databaseFile) {
  try {
    Database database([databaseFile] { return databaseFile; });
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(database.Handle(), "PRAGMA journal_mode", -1, &raw, nullptr) != SQLITE_OK) {
      return "unknown (" + std::string(sqlite3_errmsg(database.Handle())) + ")";
    }
    SqliteStatement statement(raw);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
      return "unknown (" + std::string(sqlite3_errmsg(database.Handle())) + ")";
    }
    const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
    return mode != nullptr ? mode : "unknown";
  } catch (const std::exception& failure) {
    return "unknown (" + std::string(failure.what()) + ")";
  }
}

std::string StartupLine(const StartupFacts& facts) {
  std::string line = "quelvar-server ";
  line.append(facts.version).append(" (Quelvar ").append(kServerVersion).append(") started: address ");
  line.append(facts.address).append(", port ").append(std::to_string(facts.port));
  line.append(", database ").append(facts.databaseFile);
  line.append(", journal mode ").append(facts.journalMode);
  return line;
}

std::string ShutdownLine(std::string_view version, std::int64_t requests, std::string_view note) {
  std::string line = "quelvar-server ";
  line.append(version).append(" stopped; request counter ").append(std::to_string(requests));
  if (!note.empty()) line.append(": ").append(note);
  return line;
}

}  // namespace quelvar::host
