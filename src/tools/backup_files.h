#pragma once
// The backup folder of the program and the file names clients may use in it.

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

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

// Raises Error("Nome de arquivo de backup inválido: " + name) unless
// IsPlainFileName(name).
void RequirePlainFileName(std::string_view name);

}  // namespace quelvar::tools
