#include "tools/backup_files.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "data/tdm.h"
#include "formats/errors.h"

namespace quelvar::tools {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kDateSize = 10;  // YYYY-MM-DD

bool IsDate(std::string_view text) {
  for (std::size_t i = 0; i < kDateSize; ++i) {
    const bool dash = i == 4 || i == 7;
    if (dash ? text[i] != '-' : (text[i] < '0' || text[i] > '9')) return false;
  }
  return true;
}

// The first date YYYY-MM-DD in `name`, or "" when it carries none.
std::string_view DateOf(std::string_view name) {
  for (std::size_t at = 0; at + kDateSize <= name.size(); ++at) {
    if (IsDate(name.substr(at, kDateSize))) return name.substr(at, kDateSize);
  }
  return {};
}

std::string LocalDate(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  return date;
}

}  // namespace

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

std::vector<fs::path> BackupsNamed(const fs::path& folder, const std::function<bool(std::string_view name)>& owns,
                                   std::time_t now) {
  const std::string today = LocalDate(now);
  std::vector<std::pair<fs::file_time_type, fs::path>> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!owns(name) || DateOf(name) > today) continue;
    std::error_code entryError;
    if (!it->is_regular_file(entryError) || it->is_symlink(entryError)) continue;
    const auto written = fs::last_write_time(it->path(), entryError);
    if (!entryError) found.emplace_back(written, it->path());
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second.filename() > b.second.filename();
  });
  std::vector<fs::path> paths;
  paths.reserve(found.size());
  for (auto& entry : found) paths.push_back(std::move(entry.second));
  return paths;
}

std::vector<std::string> PruneBackups(const fs::path& folder, const std::function<bool(std::string_view name)>& owns,
                                      int keep, std::string_view justWritten, std::time_t now) {
  const std::vector<fs::path> backups = BackupsNamed(folder, owns, now);
  std::vector<std::string> removed;
  for (std::size_t i = static_cast<std::size_t>(std::max(keep, 1)); i < backups.size(); ++i) {
    const std::string name = backups[i].filename().string();
    std::error_code ec;
    if (name != justWritten && fs::remove(backups[i], ec)) removed.push_back(name);
  }
  return removed;
}

void RequirePlainFileName(std::string_view name) {
  if (!IsPlainFileName(name)) throw Error("Nome de arquivo de backup inválido: " + std::string(name));
}

}  // namespace quelvar::tools
