#include "service/protected_files.h"

#include <array>
#include <cstring>
#include <fstream>
#include <system_error>

namespace quelvar::service {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 3> kSideSuffixes = {"-journal", "-wal", "-shm"};
constexpr std::string_view kDatabaseHeader{"SQLite format 3\0", 16};

fs::path Resolved(const fs::path& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) return path.lexically_normal();
  fs::path resolved = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : resolved;
}

}  // namespace

std::vector<fs::path> DatabaseFiles(const fs::path& database) {
  std::vector<fs::path> files{database};
  for (std::string_view suffix : kSideSuffixes) files.emplace_back(database.string() + std::string(suffix));
  return files;
}

std::vector<fs::path> ProtectedFiles(const fs::path& database, const fs::path& programFolder) {
  std::vector<fs::path> files = DatabaseFiles(database);
  files.push_back(programFolder / std::string(kSettingsFileName));
  std::error_code ec;
  const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) files.push_back(executable);
  return files;
}

bool IsProtectedFile(const fs::path& candidate, std::span<const fs::path> protectedFiles) {
  if (candidate.empty()) return false;
  const fs::path resolved = Resolved(candidate);
  std::error_code ec;
  const bool candidateExists = fs::exists(resolved, ec);
  for (const fs::path& file : protectedFiles) {
    if (file.empty()) continue;
    if (Resolved(file) == resolved) return true;
    if (candidateExists && fs::equivalent(resolved, file, ec) && !ec) return true;
  }
  return false;
}

bool IsDatabaseFile(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return false;
  std::ifstream in(file, std::ios::binary);
  std::array<char, kDatabaseHeader.size()> header{};
  if (!in.read(header.data(), header.size())) return false;
  return std::string_view(header.data(), header.size()) == kDatabaseHeader;
}

}  // namespace quelvar::service
