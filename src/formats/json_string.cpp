#include "formats/json_string.h"

namespace quelvar {

void AppendJsonString(std::string &out, std::string_view text, JsonStringFor use) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || (c == '<' && use == JsonStringFor::Page)) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

std::string JsonString(std::string_view text, JsonStringFor use) {
  std::string out;
  AppendJsonString(out, text, use);
  return out;
}

}  // namespace quelvar
