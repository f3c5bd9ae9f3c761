#pragma once
// The backup folder of the program, the file names clients may use in it,
// and the pruning of the server's own dated backups.

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar {
class TDM;
}

namespace quelvar::tools {

// The folder "Backup" inside the program folder.
std::filesystem::path BackupFolder(const TDM& dm);

// True for a plain file name that stays inside the backup folder: not empty,
// no path separator ('/' or '\'), no "..", no NUL.
bool IsPlainFileName(std::string_view name);

// Raises Error("Nome de arquivo de backup inválido: " + name) unless
// IsPlainFileName(name).
void RequirePlainFileName(std::string_view name);

// prefix + "YYYY-MM-DD-HHMMSS.db3" for that local time, or, when a file of
// that name is already in `folder`, the first free of the same name with
// "-2", "-3", ... before ".db3".
std::string TimedBackupName(const std::filesystem::path& folder, std::string_view prefix, std::time_t when);

// How many of each kind of the server's own backups are kept (the automatic
// ones, the copies a restore keeps): the key in Config1.ini and its default.
inline constexpr std::string_view kBackupsKeptKey = "BackupAutomaticoManter";
inline constexpr int kDefaultBackupsKept = 7;

// The dated backups of `folder` of one series: regular files named `prefix`,
// a date YYYY-MM-DD, anything, ".db3" (as "Automatico-2026-12-10.db3"),
// most recently written first (by modification time, never by the name).
// Names dated after the local date of `now` are left out: a clock that was
// once wrong, or a client that chose such a name, must not decide which
// backups are kept.
std::vector<std::filesystem::path> DatedBackups(const std::filesystem::path& folder, std::string_view prefix,
                                                std::time_t now);

// Removes the DatedBackups of the series beyond the `keep` (at least 1)
// most recently written and returns the names removed. `justWritten` is
// never removed and counts as one of those kept.
std::vector<std::string> PruneDatedBackups(const std::filesystem::path& folder, std::string_view prefix, int keep,
                                           const std::filesystem::path& justWritten, std::time_t now);

}  // namespace quelvar::tools
