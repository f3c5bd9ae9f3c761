#pragma once
// The file fallback: a request that reached no event may name a file of the
// program folder, which is then sent as it is.
//
// The request path (not percent-decoded, one leading "/" dropped) is taken
// relative to the program folder; when that is an existing regular file whose
// full path contains a dot, it is the reply. Otherwise, when the request has a
// Referer not ending in "/", the Referer's last path segment is put in front
// of the request path and the same test runs again. Otherwise a request text
// containing ".map" or ".webdwpc" gets an empty 200.
//
// Nothing outside the program folder is ever served: a path with a "." or
// ".." segment, a backslash, a NUL or a drive-like "X:" segment is refused,
// and the resolved file (symbolic links followed) must lie inside the
// resolved program folder.
//
// The shop's data is never served either: the configured database file, its
// side files and Config1.ini, any other database file (a backup, by its
// header) and any file named like a database side file ("-journal", "-wal",
// "-shm") answer as a missing file does.

#include <filesystem>
#include <optional>
#include <string_view>

#include "service/http_exchange.h"

namespace quelvar::service {

// `databaseFile` is the configured database path in force.
std::optional<HttpReply> FileFallback(const std::filesystem::path& programFolder,
                                      const std::filesystem::path& databaseFile, std::string_view path,
                                      std::string_view referer, std::string_view requestText);

// The file of the program folder that a request path names, when it is safe
// and exists as a regular file; nothing otherwise.
std::optional<std::filesystem::path> ProgramFolderFile(const std::filesystem::path& programFolder,
                                                       std::string_view relativePath);

}  // namespace quelvar::service
