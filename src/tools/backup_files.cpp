#include "tools/backup_files.h"

#include "data/tdm.h"
#include "formats/errors.h"

namespace quelvar::tools {

std::filesystem::path BackupFolder(const TDM& dm) { return dm.ProgramFolder() / "Backup"; }

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == ".") return false;
  if (name.find("..") != std::string_view::npos) return false;
  return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::string TimedBackupName(const std::filesystem::path& folder, std::string_view prefix, std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
  const std::string stem = std::string(prefix) + stamp;
  std::string name = stem + ".db3";
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(folder / name, ec); ++n) name = stem + "-" + std::to_string(n) + ".db3";
  return name;
}

void RequirePlainFileName(std::string_view name) {
  if (!IsPlainFileName(name)) throw Error("Nome de arquivo de backup inválido: " + std::string(name));
}

}  // namespace quelvar::tools
