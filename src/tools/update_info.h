#pragma once
// The update-information file the self-update check fetches: plain text, one
// entry per line ("\n" or "\r\n"), blank lines and lines starting with '#'
// ignored:
//
//   version <positive integer>
//   file <size in bytes> <SHA-256, 64 hex digits> <file name>
//
// Exactly one "version" line; one "file" line per file of the new version.
// A file name is a plain name in the program folder (no separator, no "..");
// each file is fetched from the information file's address with its last
// path segment replaced by the name. Sizes are capped at kMaxUpdateFileSize.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar::tools {

inline constexpr std::uint64_t kMaxUpdateFileSize = 256ull * 1024 * 1024;

struct UpdateFile {
  std::string name;
  std::uint64_t size = 0;
  std::string sha256;  // lower-case hex
};

struct UpdateInfo {
  std::int64_t version = 0;
  std::vector<UpdateFile> files;
};

// The parsed file, or nothing when any line is malformed, a name is not
// plain, a size exceeds the cap, a name repeats, or the version is missing.
std::optional<UpdateInfo> ParseUpdateInfo(std::string_view text);

// `infoUrl` with its last path segment replaced by `name`.
std::string SiblingUrl(std::string_view infoUrl, std::string_view name);

}  // namespace quelvar::tools
