#pragma once
// The backup folder of the program and the file names clients may use in it.

#include <filesystem>
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

// Raises Error("Nome de arquivo de backup inválido: " + name) unless
// IsPlainFileName(name).
void RequirePlainFileName(std::string_view name);

}  // namespace quelvar::tools
