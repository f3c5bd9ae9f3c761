#pragma once
// Errors reported by the database engine. The message is the driver's prefix
// followed by the engine's own text, e.g. "[SQLite] database is locked"; it is
// the text that reaches the operator log and the client.

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "formats/errors.h"

namespace quelvar {

// The driver's identification in front of every engine message.
inline constexpr std::string_view kEngineErrorPrefix = "[SQLite] ";

class EngineError : public Error {
 public:
  EngineError(int code, std::string_view engineText);
  // The engine's primary result code (SQLITE_BUSY, SQLITE_ERROR, ...).
  int Code() const { return code_; }

 private:
  int code_;
};

// Raises the last error of connection `db` (its code and message).
[[noreturn]] void ThrowEngineError(sqlite3* db);
// Raises the engine's text for result code `code`, when there is no connection to ask.
[[noreturn]] void ThrowEngineError(int code);

}  // namespace quelvar
