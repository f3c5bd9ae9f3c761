#pragma once
// Small helpers shared by the register procedures (materials, lots): the
// lenient number reads of list filters, the six-digit form of a key in
// messages, and the write transaction that rolls back on every failure path.

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "data/database.h"
#include "data/query.h"
#include "formats/errors.h"
#include "formats/wire_values.h"

namespace quelvar::inventory {

// `text` read as a real number in the server's format (decimal comma); 0 when
// it is not one.
inline double FloatOrZero(std::string_view text) {
  try {
    return ParseFloat(text);
  } catch (const Error&) {
    return 0.0;
  }
}

// `text` read as a 32-bit integer; 0 when it is not one.
inline std::int32_t IntegerOrZero(std::string_view text) {
  try {
    return ParseInt32(text);
  } catch (const Error&) {
    return 0;
  }
}

// `value` with at least six digits, zero-filled ("000012"); the sign, if any, first.
inline std::string ZeroFilled6(std::int64_t value) {
  const bool negative = value < 0;
  const std::uint64_t magnitude =
      negative ? static_cast<std::uint64_t>(-(value + 1)) + 1u : static_cast<std::uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
  return negative ? "-" + digits : digits;
}

// Runs `work` inside one transaction that takes the write lock at once
// (BEGIN IMMEDIATE), so checks made inside it and the write that follows
// cannot interleave with another request's save. Commits after `work`; on any
// failure rolls back, closes the query and raises Error with the same message.
template <typename Work>
void InWriteTransaction(Database& database, Query& query, Work&& work) {
  try {
    database.StartTransactionImmediate();
    work();
    database.Commit();
    query.Close();
  } catch (const std::exception& e) {
    database.Rollback();
    query.Close();
    throw Error(e.what());
  }
}

}  // namespace quelvar::inventory
