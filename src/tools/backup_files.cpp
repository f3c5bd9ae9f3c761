#include "tools/backup_files.h"

#include <algorithm>
#include <system_error>

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

std::vector<std::filesystem::path> BackupsNamed(const std::filesystem::path& folder,
                                                const std::function<bool(std::string_view name)>& owns) {
  namespace fs = std::filesystem;
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entryError;
    if (it->is_regular_file(entryError) && owns(it->path().filename().string())) found.push_back(it->path());
  }
  std::sort(found.begin(), found.end(),
            [](const fs::path& a, const fs::path& b) { return a.stem().string() > b.stem().string(); });
  return found;
}

std::vector<std::string> PruneBackups(const std::filesystem::path& folder,
                                      const std::function<bool(std::string_view name)>& owns, int keep,
                                      std::string_view justWritten) {
  std::vector<std::string> removed;
  const auto backups = BackupsNamed(folder, owns);
  for (std::size_t i = static_cast<std::size_t>(std::max(keep, 1)); i < backups.size(); ++i) {
    const std::string name = backups[i].filename().string();
    std::error_code ec;
    if (name != justWritten && std::filesystem::remove(backups[i], ec)) removed.push_back(name);
  }
  return removed;
}

void RequirePlainFileName(std::string_view name) {
  if (!IsPlainFileName(name)) throw Error("Nome de arquivo de backup inválido: " + std::string(name));
}

}  // namespace quelvar::tools
