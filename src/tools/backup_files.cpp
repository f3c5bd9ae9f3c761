#include "tools/backup_files.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "data/tdm.h"
#include "formats/errors.h"

namespace quelvar::tools {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kDatabaseSuffix = ".db3";
constexpr std::size_t kDateSize = 10;  // YYYY-MM-DD

// The date right after `prefix` in `name`, or "" when the name is not one of the series.
std::string_view DateOf(std::string_view name, std::string_view prefix) {
  if (name.size() < prefix.size() + kDateSize + kDatabaseSuffix.size()) return {};
  if (name.substr(0, prefix.size()) != prefix || !name.ends_with(kDatabaseSuffix)) return {};
  const std::string_view date = name.substr(prefix.size(), kDateSize);
  for (std::size_t i = 0; i < date.size(); ++i) {
    const bool dash = i == 4 || i == 7;
    if (dash ? date[i] != '-' : (date[i] < '0' || date[i] > '9')) return {};
  }
  return date;
}

// `when` in local time, written with the strftime `format`.
std::string LocalText(std::time_t when, const char* format) {
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

}  // namespace

std::filesystem::path BackupFolder(const TDM& dm) { return dm.ProgramFolder() / "Backup"; }

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == ".") return false;
  if (name.find("..") != std::string_view::npos) return false;
  return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

void RequirePlainFileName(std::string_view name) {
  if (!IsPlainFileName(name)) throw Error("Nome de arquivo de backup inválido: " + std::string(name));
}

std::string TimedBackupName(const fs::path& folder, std::string_view prefix, std::time_t when) {
  const std::string stem = std::string(prefix) + LocalText(when, "%Y-%m-%d-%H%M%S");
  std::string name = stem + ".db3";
  std::error_code ec;
  for (int n = 2; fs::exists(folder / name, ec); ++n) name = stem + "-" + std::to_string(n) + ".db3";
  return name;
}

std::vector<fs::path> DatedBackups(const fs::path& folder, std::string_view prefix, std::time_t now) {
  const std::string today = LocalText(now, "%Y-%m-%d");
  std::vector<std::pair<fs::file_time_type, fs::path>> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::string_view date = DateOf(name, prefix);
    if (date.empty() || date > today) continue;
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

std::vector<std::string> PruneDatedBackups(const fs::path& folder, std::string_view prefix, int keep,
                                           const fs::path& justWritten, std::time_t now) {
  std::vector<fs::path> backups = DatedBackups(folder, prefix, now);
  const auto isJustWritten = [&](const fs::path& file) {
    std::error_code ec;
    return file.filename() == justWritten.filename() || fs::equivalent(file, justWritten, ec);
  };
  // The file just written is kept first, whatever its time stamp says.
  std::stable_partition(backups.begin(), backups.end(), isJustWritten);
  std::vector<std::string> removed;
  for (std::size_t i = static_cast<std::size_t>(std::max(keep, 1)); i < backups.size(); ++i) {
    if (isJustWritten(backups[i])) continue;
    std::error_code ec;
    if (fs::remove(backups[i], ec)) removed.push_back(backups[i].filename().string());
  }
  return removed;
}

}  // namespace quelvar::tools
