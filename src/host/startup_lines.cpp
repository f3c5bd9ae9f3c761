#include "host/startup_lines.h"

#include "host/server_control.h"

namespace quelvar::host {

std::string_view JournalModeName(JournalChoice journal) {
  return journal == JournalChoice::kRollback ? "delete" : "wal";
}

std::string StartupLine(const StartupFacts& facts) {
  std::string line = "quelvar-server ";
  line.append(facts.version).append(" (Quelvar ").append(kServerVersion).append(") started: address ");
  line.append(facts.address).append(", port ").append(std::to_string(facts.port));
  line.append(", database ").append(facts.databaseFile);
  line.append(", journal mode ").append(facts.journalMode);
  line.append(", connections ").append(std::to_string(facts.connections));
  line.append(" (open files ").append(std::to_string(facts.openFileLimit)).append(", ");
  line.append(std::to_string(facts.reservedFiles)).append(" kept for the database, backups, logs and the panel)");
  return line;
}

std::string ShutdownLine(std::string_view version, std::int64_t requests, std::string_view note) {
  std::string line = "quelvar-server ";
  line.append(version).append(" stopped; request counter ").append(std::to_string(requests));
  if (!note.empty()) line.append(": ").append(note);
  return line;
}

}  // namespace quelvar::host
