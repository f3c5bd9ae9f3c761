#include "service/file_fallback.h"

#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "service/content_types.h"
#include "service/protected_files.h"

namespace quelvar::service {
namespace {

namespace fs = std::filesystem;

// The segments of a relative path, or nothing when one of them could leave
// the folder or is not a plain name.
std::optional<std::vector<std::string_view>> SafeSegments(std::string_view relative) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  while (start <= relative.size()) {
    const std::size_t slash = relative.find('/', start);
    const std::string_view segment =
        relative.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (segment == "." || segment == "..") return std::nullopt;
    if (segment.find('\\') != std::string_view::npos || segment.find('\0') != std::string_view::npos) {
      return std::nullopt;
    }
    if (segment.size() >= 2 && segment[1] == ':' && segments.empty()) return std::nullopt;  // "C:" and the like
    if (!segment.empty()) segments.push_back(segment);
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return segments;
}

// True when `inner` is `outer` or lies below it (both canonical).
bool IsInside(const fs::path& outer, const fs::path& inner) {
  auto o = outer.begin();
  auto i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (o->empty()) continue;  // a trailing separator of the folder
    if (i == inner.end() || *o != *i) return false;
  }
  return true;
}

std::optional<std::string> ReadWholeFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::string_view LastPathSegment(std::string_view url) {
  // Drop the query and the fragment, then take what follows the last "/".
  url = url.substr(0, url.find_first_of("?#"));
  const std::size_t slash = url.rfind('/');
  return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// True for a file that holds or belongs to a database, or the settings.
bool HoldsShopData(const fs::path& file, std::span<const fs::path> guarded) {
  const std::string name = file.filename().string();
  if (EndsWith(name, "-journal") || EndsWith(name, "-wal") || EndsWith(name, "-shm")) return true;
  return IsProtectedFile(file, guarded) || IsDatabaseFile(file);
}

std::optional<HttpReply> FileReply(const fs::path& programFolder, std::span<const fs::path> guarded,
                                   std::string_view path) {
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);
  const auto file = ProgramFolderFile(programFolder, path);
  if (!file || HoldsShopData(*file, guarded)) return std::nullopt;
  auto bytes = ReadWholeFile(*file);
  if (!bytes) return std::nullopt;
  HttpReply reply;
  reply.status = 200;
  reply.contentType = ContentTypeOf(file->filename().string());
  reply.body = std::move(*bytes);
  return reply;
}

}  // namespace

std::optional<fs::path> ProgramFolderFile(const fs::path& programFolder, std::string_view relativePath) {
  const auto segments = SafeSegments(relativePath);
  if (!segments || segments->empty()) return std::nullopt;
  fs::path candidate = programFolder;
  for (std::string_view segment : *segments) candidate /= fs::path(std::string(segment));
  if (candidate.string().find('.') == std::string::npos) return std::nullopt;

  std::error_code ec;
  const fs::path folder = fs::canonical(programFolder, ec);
  if (ec) return std::nullopt;
  const fs::path resolved = fs::canonical(candidate, ec);
  if (ec) return std::nullopt;
  if (!IsInside(folder, resolved) || resolved == folder) return std::nullopt;
  if (!fs::is_regular_file(resolved, ec) || ec) return std::nullopt;
  return resolved;
}

std::optional<HttpReply> FileFallback(const fs::path& programFolder, const fs::path& databaseFile,
                                      std::string_view path, std::string_view referer, std::string_view requestText) {
  std::vector<fs::path> guarded = databaseFile.empty() ? std::vector<fs::path>{} : DatabaseFiles(databaseFile);
  guarded.push_back(programFolder / std::string(kSettingsFileName));
  if (auto reply = FileReply(programFolder, guarded, path)) return reply;
  if (!referer.empty() && referer.back() != '/') {
    std::string combined(LastPathSegment(referer));
    combined += path;
    if (auto reply = FileReply(programFolder, guarded, combined)) return reply;
  }
  if (requestText.find(".map") != std::string_view::npos || requestText.find(".webdwpc") != std::string_view::npos) {
    HttpReply reply;
    reply.status = 200;
    reply.contentType = ContentTypeOf(path);
    return reply;
  }
  return std::nullopt;
}

}  // namespace quelvar::service
