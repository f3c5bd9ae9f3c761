#include "tools/backup_writer.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "data/engine_error.h"
#include "formats/errors.h"
#include "service/protected_files.h"
#include "tools/database_check.h"
#include "tools/online_copy.h"

namespace quelvar::tools {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPartialMark = ".parcial-";

[[noreturn]] void ThrowCopyFailure(int error) {
  throw Error(std::string(kBackupCopyFailure) + std::generic_category().message(error));
}

// The name prefix of every temporary copy towards `destination`.
std::string PartialPrefix(const fs::path& destination) {
  return "." + destination.filename().string() + std::string(kPartialMark);
}

// Removes temporary copies towards `destination` (with their side files)
// whose writing process no longer runs.
void RemoveLeftovers(const fs::path& destination) {
  const std::string prefix = PartialPrefix(destination);
  std::error_code ec;
  for (fs::directory_iterator it(destination.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid == static_cast<long>(getpid())) continue;  // a copy of this process, still in progress
    if (pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) continue;  // another live process
    std::error_code ignored;
    fs::remove(it->path(), ignored);
  }
}

// A new empty file beside `destination`, created exclusively.
fs::path CreatePartialFile(const fs::path& destination) {
  std::string pattern =
      (destination.parent_path() / (PartialPrefix(destination) + std::to_string(getpid()) + "-XXXXXX")).string();
  const int fd = mkstemp(pattern.data());
  if (fd < 0) ThrowCopyFailure(errno);
  close(fd);
  return pattern;
}

void RemoveWithSideFiles(const fs::path& file) {
  std::error_code ignored;
  for (const fs::path& part : service::DatabaseFiles(file)) fs::remove(part, ignored);
}

void Flush(const fs::path& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) ThrowCopyFailure(errno);
  const int rc = fsync(fd);
  const int error = errno;
  close(fd);
  if (rc != 0) ThrowCopyFailure(error);
}

// Puts the copy in rollback-journal form (a copy of a write-ahead-log
// database carries that mark) and checks it.
void VerifyCopy(const fs::path& copy) {
  bool passed = false;
  {
    SqliteConnection db = OpenDatabaseFile(copy.string(), SQLITE_OPEN_READWRITE);
    RunStatement(db.get(), "PRAGMA journal_mode = Delete");
    RunStatement(db.get(), ("PRAGMA application_id = " + std::to_string(static_cast<std::int32_t>(kBackupMark))).c_str());
    passed = IntegrityCheckPassed(IntegrityCheckRows(db.get()));
  }
  if (!passed) throw Error(std::string(kBackupCopyUnsound));
}

}  // namespace

bool CarriesBackupMark(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(file, ec)) || !service::IsDatabaseFile(file)) return false;
  std::ifstream in(file, std::ios::binary);
  std::array<unsigned char, 72> header{};
  if (!in.read(reinterpret_cast<char*>(header.data()), header.size())) return false;
  // The application id: a big-endian number at offset 68 of the header.
  const std::uint32_t id = (std::uint32_t{header[68]} << 24) | (std::uint32_t{header[69]} << 16) |
                           (std::uint32_t{header[70]} << 8) | std::uint32_t{header[71]};
  return id == kBackupMark;
}

void ClearBackupMark(sqlite3* db) { RunStatement(db, "PRAGMA application_id = 0"); }

void RequireBackupTarget(const fs::path& source, const fs::path& destination,
                         std::span<const fs::path> alsoProtected) {
  std::vector<fs::path> guarded = service::DatabaseFiles(source);
  guarded.insert(guarded.end(), alsoProtected.begin(), alsoProtected.end());
  if (service::IsProtectedFile(destination, guarded))
    throw Error(std::string(kBackupTargetProtected) + destination.string());

  std::error_code ec;
  const fs::path folder = destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
  if (!fs::is_directory(folder, ec)) ThrowCopyFailure(ENOENT);
  const fs::file_status status = fs::symlink_status(destination, ec);
  if (!fs::exists(status)) return;
  if (!CarriesBackupMark(destination))
    throw Error(std::string(kBackupTargetNotBackup) + destination.string());
}

void WriteBackupSafely(const fs::path& source, const fs::path& destination,
                       std::span<const fs::path> alsoProtected) {
  RequireBackupTarget(source, destination, alsoProtected);
  RemoveLeftovers(destination);

  const fs::path partial = CreatePartialFile(destination);
  try {
    // As readable as the database it copies (the temporary file starts
    // readable by its owner only).
    std::error_code ec;
    const fs::perms mode = fs::status(source, ec).permissions();
    if (!ec) fs::permissions(partial, mode & (fs::perms::owner_all | fs::perms::group_all | fs::perms::others_all), ec);
    OnlineCopy(source.string(), partial.string(), CopyTarget::kScratch);
    VerifyCopy(partial);
    Flush(partial, O_RDONLY);
    fs::rename(partial, destination, ec);
    if (ec) ThrowCopyFailure(ec.value());
  } catch (...) {
    RemoveWithSideFiles(partial);
    throw;
  }
  const fs::path folder = destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
  Flush(folder, O_RDONLY | O_DIRECTORY);
}

}  // namespace quelvar::tools
