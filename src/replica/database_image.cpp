#include "replica/database_image.h"

#include <cstdio>
#include <stdexcept>

#include "data/engine_error.h"
#include "replica/wal_format.h"

namespace quelvar::replica {

namespace {

void Exec(sqlite3 *db, const char *sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowEngineError(db);
}

}  // namespace

// The database as the connection's open read transaction sees it.
std::vector<std::uint8_t> DatabaseImage(sqlite3 *source) {
  sqlite3 *raw = nullptr;
  sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE, nullptr);
  SqliteConnection memory(raw);
  if (!raw) throw std::runtime_error("cannot open a database in memory");
  sqlite3_stmt *statement = nullptr;
  int pageSize = 4096;
  if (sqlite3_prepare_v2(source, "PRAGMA page_size", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    pageSize = sqlite3_column_int(statement, 0);
  }
  sqlite3_finalize(statement);
  Exec(raw, ("PRAGMA page_size = " + std::to_string(pageSize)).c_str());
  sqlite3_backup *backup = sqlite3_backup_init(raw, "main", source, "main");
  if (!backup) ThrowEngineError(raw);
  const int step = sqlite3_backup_step(backup, -1);
  const int finish = sqlite3_backup_finish(backup);
  if (step != SQLITE_DONE) ThrowEngineError(step);
  if (finish != SQLITE_OK) ThrowEngineError(raw);
  sqlite3_int64 size = 0;
  unsigned char *bytes = sqlite3_serialize(raw, "main", &size, 0);
  if (!bytes) throw std::runtime_error("cannot read the database image");
  std::vector<std::uint8_t> image(bytes, bytes + size);
  sqlite3_free(bytes);
  return image;
}

// Bytes 24-27 of the database header: the file change counter (rollback form).
std::optional<std::uint32_t> ChangeCounter(const std::string &file) {
  std::FILE *f = std::fopen(file.c_str(), "rb");
  if (!f) return std::nullopt;
  std::uint8_t header[28];
  const bool ok = std::fread(header, 1, sizeof header, f) == sizeof header;
  std::fclose(f);
  if (!ok) return std::nullopt;
  return ReadBigEndian32(header + 24);
}

}  // namespace quelvar::replica
