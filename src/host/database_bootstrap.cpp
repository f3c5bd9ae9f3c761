#include "host/database_bootstrap.h"

#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <system_error>

#include "data/shipped_schema.h"
#include "data/sqlite_handles.h"

namespace quelvar::host {

namespace {

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& why) {
  throw std::runtime_error("cannot create " + path.string() + ": " + why);
}

}  // namespace

// The schema is loaded into a temporary file beside the target, in one
// transaction, and the file is renamed into place only when complete: a failed
// or interrupted creation never leaves a half-made database under the real name.
void CreateDatabaseFromSchema(const std::filesystem::path& path) {
  std::filesystem::path partial = path;
  partial += ".creating";
  std::error_code ec;
  std::filesystem::remove(partial, ec);

  {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(partial.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    SqliteConnection db(raw);
    if (rc != SQLITE_OK) Fail(path, raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    const std::string script = "BEGIN;\n" + std::string(ShippedSchema()) + "\nCOMMIT;";
    char* message = nullptr;
    if (sqlite3_exec(db.get(), script.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string why = message ? message : "the schema could not be loaded";
      sqlite3_free(message);
      db.reset();
      std::filesystem::remove(partial, ec);
      Fail(path, why);
    }
  }
  std::filesystem::rename(partial, path, ec);
  if (ec) {
    std::filesystem::remove(partial, ec);
    Fail(path, ec.message());
  }
}

}  // namespace quelvar::host
