#pragma once
// An aligned text table for a person to read: a header line, a line of
// dashes, one line per row; columns two blanks apart, each as wide as its
// widest cell (counted in characters), numbers aligned right, no trailing
// blanks.

#include <string>
#include <vector>

namespace quelvar::client {

struct TextTable {
  std::vector<std::string> headers;
  std::vector<bool> alignRight;  // per column
  std::vector<std::vector<std::string>> rows;
};

std::string RenderTextTable(const TextTable& table);

}  // namespace quelvar::client
