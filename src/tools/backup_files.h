#pragma once
// The backup folder of the program, the file names clients may use in it,
// and the naming and pruning of the server's own dated backups.

#include <ctime>
#include <filesystem>
#include <functional>
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

// prefix + "YYYY-MM-DD-HHMMSS.db3" for that local time, or, when a file of
// that name is already in `folder`, the first free of the same name with
// "-2", "-3", ... before ".db3".
std::string TimedBackupName(const std::filesystem::path& folder, std::string_view prefix, std::time_t when);

// How many of each kind of the server's own backups are kept (the automatic
// ones, the copies a restore keeps): the key in Config1.ini and its default.
inline constexpr std::string_view kBackupsKeptKey = "BackupAutomaticoManter";
inline constexpr int kDefaultBackupsKept = 7;

// The regular files of `folder` whose names `owns` accepts, most recently
// written first (by modification time, never by the date in the name). A
// name carrying a date (YYYY-MM-DD) after the local date of `now` is left
// out: a clock that was once wrong, or a client that chose such a name for a
// backup, must not decide which backups are kept.
std::vector<std::filesystem::path> BackupsNamed(const std::filesystem::path& folder,
                                                const std::function<bool(std::string_view name)>& owns,
                                                std::time_t now = std::time(nullptr));
// Removes those beyond the `keep` most recently written (at least 1), never
// `justWritten`; the names removed.
std::vector<std::string> PruneBackups(const std::filesystem::path& folder,
                                      const std::function<bool(std::string_view name)>& owns, int keep,
                                      std::string_view justWritten = {}, std::time_t now = std::time(nullptr));

// Raises Error("Nome de arquivo de backup inválido: " + name) unless
// IsPlainFileName(name).
void RequirePlainFileName(std::string_view name);

}  // namespace quelvar::tools
