#include "tools/restore.h"

#include <sqlite3.h>

#include <array>
#include <chrono>
#include <ctime>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "data/connection_pool.h"
#include "data/engine_error.h"
#include "data/shipped_schema.h"
#include "data/tdm.h"
#include "data/writer_lock.h"
#include "formats/errors.h"
#include "service/protected_files.h"
#include "tools/backup_files.h"
#include "tools/backup_writer.h"
#include "tools/database_check.h"
#include "tools/online_copy.h"
#include "tools/safety_settings.h"

namespace quelvar::tools {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCopyFailure = "Ocorreu um erro na cópia do backup.\rMensagem original: ";

[[noreturn]] void ThrowCopyFailure(const std::string& message) { throw Error(std::string(kCopyFailure) + message); }

constexpr std::size_t kHeaderSize = 100;
constexpr std::string_view kDatabaseHeader{"SQLite format 3\0", 16};

std::uint32_t BigEndian(const unsigned char* bytes, int count) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = (value << 8) | bytes[i];
  return value;
}

// The size the file's header promises, or 0 when the header does not say.
std::uintmax_t PromisedSize(const std::array<unsigned char, kHeaderSize>& header) {
  std::uint32_t pageSize = BigEndian(&header[16], 2);
  if (pageSize == 1) pageSize = 65536;
  const std::uint32_t pageCount = BigEndian(&header[28], 4);
  const bool countValid = BigEndian(&header[24], 4) == BigEndian(&header[92], 4);
  if (!countValid || pageCount == 0) return 0;
  return static_cast<std::uintmax_t>(pageSize) * pageCount;
}

// The table names of the schema the server ships.
std::vector<std::string> ShippedTables() {
  SqliteConnection memory = OpenDatabaseFile(":memory:", SQLITE_OPEN_READWRITE);
  const std::string schema(ShippedSchema());
  RunStatement(memory.get(), schema.c_str());
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(memory.get(), "Select name From sqlite_master Where type = 'table' Order By name", -1, &raw,
                         nullptr) != SQLITE_OK)
    ThrowEngineError(memory.get());
  SqliteStatement statement(raw);
  std::vector<std::string> tables;
  while (sqlite3_step(raw) == SQLITE_ROW) tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
  return tables;
}

bool HasTable(sqlite3* db, const std::string& table) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "Select 1 From sqlite_master Where type = 'table' And name = ?1 Collate NoCase", -1, &raw,
                         nullptr) != SQLITE_OK)
    ThrowEngineError(db);
  SqliteStatement statement(raw);
  sqlite3_bind_text(raw, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  const int rc = sqlite3_step(raw);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowEngineError(db);
  return rc == SQLITE_ROW;
}

// BackupAutomaticoManter of Config1.ini, or the default when it is not a number from 1 to 100000.
int BackupsKept(const fs::path& programFolder) {
  const std::optional<std::string> text = SettingsValue(programFolder, kBackupsKeptKey);
  int kept = 0;
  if (!text || text->empty() || text->size() > 6) return kDefaultBackupsKept;
  for (char c : *text) {
    if (c < '0' || c > '9') return kDefaultBackupsKept;
    kept = kept * 10 + (c - '0');
  }
  return kept >= 1 && kept <= 100000 ? kept : kDefaultBackupsKept;
}

// Copies the live database, as it is before a restore replaces it, into the
// backup folder as "AntesDoRestore-<date-time>.db3"; the restore does not go
// on without that copy.
fs::path KeepReplacedDatabase(const TDM& dm) {
  const fs::path folder = BackupFolder(dm);
  const fs::path kept = folder / TimedBackupName(folder, kBeforeRestorePrefix, std::time(nullptr));
  try {
    WriteBackupSafely(dm.DatabaseFile(), kept, service::ProtectedFiles(dm.DatabaseFile(), dm.ProgramFolder()));
  } catch (const std::exception& e) {
    ThrowCopyFailure(std::string(kRestoreNotKept) + e.what());
  }
  return kept;
}

}  // namespace

void RequireRestorableDatabase(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec))
    ThrowCopyFailure((ec ? ec : std::make_error_code(std::errc::no_such_file_or_directory)).message());
  const std::uintmax_t size = fs::file_size(file, ec);
  if (ec) ThrowCopyFailure(ec.message());
  if (size == 0) ThrowCopyFailure(std::string(kRestoreEmpty));

  std::array<unsigned char, kHeaderSize> header{};
  {
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(header.data()), header.size());
    if (static_cast<std::size_t>(in.gcount()) < kDatabaseHeader.size() ||
        std::string_view(reinterpret_cast<const char*>(header.data()), kDatabaseHeader.size()) != kDatabaseHeader)
      ThrowCopyFailure(std::string(kRestoreNotDatabase));
    if (static_cast<std::size_t>(in.gcount()) < header.size()) ThrowCopyFailure(std::string(kRestoreIncomplete));
  }
  const std::uintmax_t promised = PromisedSize(header);
  if (promised != 0 && size < promised) ThrowCopyFailure(std::string(kRestoreIncomplete));

  try {
    SqliteConnection db = OpenDatabaseFile(file.string(), SQLITE_OPEN_READONLY);
    if (!IntegrityCheckPassed(IntegrityCheckRows(db.get()))) ThrowCopyFailure(std::string(kRestoreUnsound));
    for (const std::string& table : ShippedTables())
      if (!HasTable(db.get(), table)) ThrowCopyFailure(std::string(kRestoreMissingTable) + table);
  } catch (const EngineError& e) {
    ThrowCopyFailure(std::string(kRestoreUnsound) + " " + e.what());
  }
}

void RestauraBackup(TDM& dm, const std::string& fileName, std::string& answer) {
  dm.Database1.Close();
  if (!IsPlainFileName(fileName)) ThrowCopyFailure(std::string(kRestoreBadName) + fileName);
  const fs::path source = BackupFolder(dm) / fileName;
  RequireRestorableDatabase(source);
  // No connection opened before the copy is used after it, and no save of
  // this server runs beside it.
  const ConnectionPool::MaintenanceHold maintenance(dm.Database1.Pool());
  WriterHold writer;
  if (!writer.Acquire(dm.Database1.Pool().Writers(), std::chrono::milliseconds(Database::kBusyTimeoutMs)))
    ThrowCopyFailure(EngineError(SQLITE_BUSY, sqlite3_errstr(SQLITE_BUSY)).what());
  const fs::path kept = KeepReplacedDatabase(dm);
  try {
    OnlineCopy(source.string(), dm.DatabaseFile(), CopyTarget::kExisting);
    // The live file is no backup: a later backup may never replace it.
    ClearBackupMark(OpenDatabaseFile(dm.DatabaseFile(), SQLITE_OPEN_READWRITE).get());
  } catch (const std::exception& e) {
    ThrowCopyFailure(e.what());
  }
  std::string entry = "Restore MSG: \rbanco restaurado de " + fileName + " a pedido de " + dm.ClientInfo.ip +
                      "; o banco substituído foi guardado em " + kept.string();
  const auto removed = PruneBackups(
      BackupFolder(dm), [](std::string_view name) { return name.starts_with(kBeforeRestorePrefix); },
      BackupsKept(dm.ProgramFolder()), kept.filename().string());
  if (!removed.empty()) {
    entry += "; removidos:";
    for (const std::string& old : removed) entry += " " + old;
  }
  dm.Log(std::move(entry));
  answer = "OK";
}

void Restore(TDM& dm, TDWParams& params, std::string& /*result*/) {
  try {
    const std::string origem = params.Item("Origem").GetAsString();
    std::string answer;
    RestauraBackup(dm, origem, answer);
    params.Item("Resposta").SetAsString(answer);
  } catch (const std::exception& e) {
    dm.Log(std::string("Restore --> \r") + e.what());
    if (TJSONParam* resposta = params.GetRecName("Resposta"))
      resposta->SetAsString(std::string("Ocorreu um erro ao restaurar o backup. \r") + e.what());
  }
}

}  // namespace quelvar::tools
