#pragma once
// The statement pattern every procedure follows on the module's query: close
// it, clear its text, then add the statement line by line.

#include <initializer_list>
#include <string_view>

#include "data/query.h"

namespace quelvar::inventory {

inline void SetStatement(Query& query, std::initializer_list<std::string_view> lines) {
  query.Close();
  query.ClearSQL();
  for (std::string_view line : lines) query.Add(line);
}

}  // namespace quelvar::inventory
