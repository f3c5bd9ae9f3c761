#pragma once
// The server's own files, which no request may read, replace or delete: the
// configured database with its side files ("-journal", "-wal", "-shm"), the
// settings file of the program folder and the running executable.
//
// A candidate path matches when it resolves to one of them: symbolic links
// and "." / ".." segments are resolved (as far as the path exists), and an
// existing candidate that is the same file as an existing protected one (a
// hard link, another spelling) matches too. A candidate that does not exist
// is compared by its resolved spelling.

#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

namespace quelvar::service {

// The settings file's name inside the program folder.
inline constexpr std::string_view kSettingsFileName = "Config1.ini";

// The database file and its side files, in this order.
std::vector<std::filesystem::path> DatabaseFiles(const std::filesystem::path& database);

// DatabaseFiles(database), then programFolder/Config1.ini and the running
// executable (from /proc/self/exe).
std::vector<std::filesystem::path> ProtectedFiles(const std::filesystem::path& database,
                                                  const std::filesystem::path& programFolder);

// True when `candidate` resolves to one of `protectedFiles`.
bool IsProtectedFile(const std::filesystem::path& candidate, std::span<const std::filesystem::path> protectedFiles);

// True when `file` is a regular file whose first bytes are the engine's
// database header ("SQLite format 3" and a NUL).
bool IsDatabaseFile(const std::filesystem::path& file);

}  // namespace quelvar::service
