#include "client/text_table.h"

#include <algorithm>
#include <string_view>

namespace quelvar::client {
namespace {

std::size_t Width(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

void TrimTrailingBlanks(std::string& line) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
}

}  // namespace

std::string RenderTextTable(const TextTable& table) {
  const std::size_t columns = table.headers.size();
  std::vector<std::size_t> widths(columns);
  for (std::size_t c = 0; c < columns; ++c) {
    widths[c] = Width(table.headers[c]);
    for (const auto& row : table.rows) widths[c] = std::max(widths[c], Width(row.at(c)));
  }
  auto line = [&](const std::vector<std::string>& cells, bool header) {
    std::string out;
    for (std::size_t c = 0; c < columns; ++c) {
      if (c) out += "  ";
      const std::string pad(widths[c] - Width(cells[c]), ' ');
      const bool right = !header && c < table.alignRight.size() && table.alignRight[c];
      out += right ? pad + cells[c] : cells[c] + pad;
    }
    TrimTrailingBlanks(out);
    return out + "\n";
  };
  std::string out = line(table.headers, true);
  std::vector<std::string> dashes;
  for (std::size_t w : widths) dashes.push_back(std::string(w, '-'));
  out += line(dashes, true);
  for (const auto& row : table.rows) out += line(row, false);
  return out;
}

}  // namespace quelvar::client
