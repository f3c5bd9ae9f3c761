#include "data/sql_params.h"

#include <algorithm>

#include "formats/text_codec.h"

namespace quelvar {

namespace {

bool IsNameChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u >= 0x80;
}

// The position just past a quoted section that starts at `i` and ends with
// `close` (a doubled closing quote stays inside), or the end of the text.
std::size_t SkipQuoted(std::string_view sql, std::size_t i, char close) {
  for (++i; i < sql.size(); ++i) {
    if (sql[i] != close) continue;
    if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
      ++i;
      continue;
    }
    return i + 1;
  }
  return sql.size();
}

}  // namespace

std::vector<std::string> ScanParamNames(std::string_view sql) {
  std::vector<std::string> names;
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '`') {
      i = SkipQuoted(sql, i, c);
    } else if (c == '[') {
      i = SkipQuoted(sql, i, ']');
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      const auto end = sql.find('\n', i);
      i = end == std::string_view::npos ? sql.size() : end + 1;
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      const auto end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
    } else if (c == ':' && i + 1 < sql.size() && IsNameChar(sql[i + 1])) {
      std::size_t end = i + 1;
      while (end < sql.size() && IsNameChar(sql[end])) ++end;
      std::string name(sql.substr(i + 1, end - i - 1));
      const bool known = std::any_of(names.begin(), names.end(),
                                     [&](const std::string& n) { return EqualsIgnoreCase(n, name); });
      if (!known) names.push_back(std::move(name));
      i = end;
    } else {
      ++i;
    }
  }
  return names;
}

}  // namespace quelvar
