#include "data/engine_error.h"

namespace quelvar {

EngineError::EngineError(int code, std::string_view engineText)
    : Error(std::string(kEngineErrorPrefix) + std::string(engineText)), code_(code) {}

void ThrowEngineError(sqlite3* db) {
  const int code = sqlite3_errcode(db) & 0xFF;
  throw EngineError(code, sqlite3_errmsg(db));
}

void ThrowEngineError(int code) { throw EngineError(code & 0xFF, sqlite3_errstr(code)); }

}  // namespace quelvar
