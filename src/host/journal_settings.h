#pragma once
// The journal setting of "Config1.ini": key `DiarioRollback` in section
// "INDICE". "1" (or "S", "Sim", "True", any case) keeps the rollback journal
// with every commit flushed to the disk, for a database on storage that
// cannot hold the write-ahead log's shared-memory file (a network share);
// anything else, or no key, uses the write-ahead log.

#include <filesystem>
#include <string_view>

#include "data/connect_settings.h"

namespace quelvar::host {

inline constexpr std::string_view kRollbackJournalKey = "DiarioRollback";

// The journal a value of the key selects.
JournalChoice JournalFromText(std::string_view text);

// The journal the settings file in `programFolder` selects; the write-ahead
// log when the file or the key is missing or cannot be read.
JournalChoice ReadJournalSetting(const std::filesystem::path &programFolder);

}  // namespace quelvar::host
