#pragma once
// The lines the headless log opens and closes with, so that an operator can
// tell from the log alone when the server ran, on which port and database.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/connect_settings.h"

namespace quelvar::host {

// The journal mode the server's connections set on the database file, by
// the journal setting: "wal" or "delete". (Read from the setting rather than
// from the file, so that the line never opens the database before a request
// does.)
std::string_view JournalModeName(JournalChoice journal);

struct StartupFacts {
  std::string_view version;  // the build's version
  std::string address;       // where the listener is bound
  std::uint16_t port = 0;
  std::string databaseFile;
  std::string journalMode;
  std::size_t connections = 0;      // the connection cap in force
  std::size_t openFileLimit = 0;
  std::size_t reservedFiles = 0;    // kept beside the connections
};

// "quelvar-server 0.1.0 (Quelvar 1.5) started: address <a>, port <p>,
// database <file>, journal mode <mode>, connections <n> (open files <limit>,
// <reserve> kept for the database, backups, logs and the panel)".
std::string StartupLine(const StartupFacts& facts);

// "quelvar-server 0.1.0 stopped; request counter <n>" + ": " + the stop's note.
std::string ShutdownLine(std::string_view version, std::int64_t requests, std::string_view note);

}  // namespace quelvar::host
