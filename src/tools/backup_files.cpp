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

void RequirePlainFileName(std::string_view name) {
  if (!IsPlainFileName(name)) throw Error("Nome de arquivo de backup inválido: " + std::string(name));
}

}  // namespace quelvar::tools
