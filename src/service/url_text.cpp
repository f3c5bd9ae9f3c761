#include "service/url_text.h"

#include "formats/text_codec.h"

namespace quelvar::service {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string PercentDecode(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += (plusIsSpace && c == '+') ? ' ' : c;
  }
  return out;
}

std::vector<std::string_view> SplitAmpersand(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find('&', start);
    const std::string_view piece = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!piece.empty()) pieces.push_back(piece);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return pieces;
}

std::size_t CountAmpersandPieces(std::string_view text, std::size_t stopAfter) {
  std::size_t count = 0;
  std::size_t start = 0;
  while (start <= text.size() && count <= stopAfter) {
    const std::size_t end = text.find('&', start);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    if (stop > start) ++count;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return count;
}

std::vector<std::string> DecodedEntries(std::string_view text) {
  std::vector<std::string> entries;
  for (std::string_view piece : SplitAmpersand(text)) entries.push_back(PercentDecode(piece, true));
  return entries;
}

bool IsUrlEncodedForm(std::string_view contentType) {
  const std::string type = LowerAscii(Trim(contentType.substr(0, contentType.find(';'))));
  return type == "application/x-www-form-urlencoded";
}

}  // namespace quelvar::service
