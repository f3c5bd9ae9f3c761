#include "formats/escape.h"

#include <cstdio>

#include "formats/errors.h"
#include "formats/text_codec.h"

namespace quelvar {

std::string EscapeBasic(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '/': out += "\\/"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

bool KeptAsIs(char16_t u) {
  return u == 32 || u == 33 || u == 36 || (u >= 39 && u <= 42) || u == 45 || u == 46 || (u >= '0' && u <= '9') ||
         u == 64 || (u >= 'A' && u <= 'Z') || u == 95 || (u >= 'a' && u <= 'z');
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string EscapeJSONText(std::string_view text) {
  const std::u16string units = Utf8ToUtf16(text);
  std::string out;
  out.reserve(text.size() * 2);
  char16_t previous = 0;
  for (char16_t u : units) {
    switch (u) {
      case 8: out += "\\b"; break;
      case 9: out += "\\t"; break;
      case 10: out += "\\n"; break;
      case 12: out += "\\f"; break;
      case 13: out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '/': out += previous == '<' ? "\\/" : "/"; break;
      default:
        if (KeptAsIs(u)) {
          out += static_cast<char>(u);
        } else {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(u));
          out += buf;
        }
    }
    previous = u;
  }
  return out;
}

std::string UnescapeJSONText(std::string_view text) {
  // Work in UTF-16 code units so that escaped surrogate pairs recombine.
  std::u16string out;
  out.reserve(text.size());
  const std::u16string units = Utf8ToUtf16(text);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t c = units[i];
    if (c != '\\' || i + 1 >= units.size()) {
      out += c;
      continue;
    }
    const char16_t n = units[++i];
    switch (n) {
      case 'b': out += u'\b'; break;
      case 'f': out += u'\f'; break;
      case 'n': out += u'\n'; break;
      case 'r': out += u'\r'; break;
      case 't': out += u'\t'; break;
      case 'u': {
        const std::u16string four = units.substr(i + 1, 4);
        unsigned value = 0;
        bool hex = four.size() == 4;
        for (char16_t h : four) {
          const int d = h < 128 ? HexDigit(static_cast<char>(h)) : -1;
          if (d < 0) hex = false;
          value = value << 4 | static_cast<unsigned>(d < 0 ? 0 : d);
        }
        if (!hex) throw Error("Invalid unicode \\u" + Utf16ToUtf8(four));
        out += static_cast<char16_t>(value);
        i += 4;
        break;
      }
      default: out += n;
    }
  }
  return Utf16ToUtf8(out);
}

}  // namespace quelvar
