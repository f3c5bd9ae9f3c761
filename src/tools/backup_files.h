#pragma once
// The backup folder of the program and the file names clients may use in it.

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

// The regular files of `folder` whose names `owns` accepts, newest first by
// name (the names begin with their date and time; a name with a "-N" after
// the time is newer than the same name without).
std::vector<std::filesystem::path> BackupsNamed(const std::filesystem::path& folder,
                                                const std::function<bool(std::string_view name)>& owns);
// Removes those beyond the `keep` newest (at least 1), never `justWritten`;
// the names removed.
std::vector<std::string> PruneBackups(const std::filesystem::path& folder,
                                      const std::function<bool(std::string_view name)>& owns, int keep,
                                      std::string_view justWritten = {});

// Raises Error("Nome de arquivo de backup inválido: " + name) unless
// IsPlainFileName(name).
void RequirePlainFileName(std::string_view name);

}  // namespace quelvar::tools
