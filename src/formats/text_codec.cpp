#include "formats/text_codec.h"

#include <array>

namespace quelvar {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at s[i]; advances i. Ill-formed input (overlong,
// surrogates, beyond U+10FFFF, truncated) yields U+FFFD and consumes the
// maximal invalid prefix (at least one byte).
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2; cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3; cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4; cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    ++i;
    return kReplacement;
  }
  std::size_t j = i + 1;
  for (int k = 1; k < len; ++k, ++j) {
    if (j >= s.size()) {
      i = j;
      return kReplacement;
    }
    const auto b = static_cast<unsigned char>(s[j]);
    if (b < lo || b > hi) {
      i = j;
      return kReplacement;
    }
    lo = 0x80;
    hi = 0xBF;
    cp = cp << 6 | (b & 0x3F);
  }
  i = j;
  return cp;
}

// Windows-1252 bytes 0x80..0x9F; 0 marks the five undefined positions.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Visits every UTF-16 code unit of a UTF-8 text.
template <typename F>
void ForEachCodeUnit(std::string_view utf8, F&& f) {
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = NextCodePoint(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      f(static_cast<char16_t>(0xD800 + (cp >> 10)));
      f(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      f(static_cast<char16_t>(cp));
    }
  }
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  ForEachCodeUnit(utf8, [&](char16_t u) { out += u; });
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t u = utf16[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, u);
  }
  return out;
}

// Length of the leading run of 7-bit bytes: texts on the wire are mostly ASCII,
// and such runs are the same in every encoding here.
static std::size_t AsciiPrefix(std::string_view bytes) {
  std::size_t n = 0;
  while (n < bytes.size() && static_cast<unsigned char>(bytes[n]) < 0x80) ++n;
  return n;
}

std::string SanitizeUtf8(std::string_view bytes) {
  const std::size_t ascii = AsciiPrefix(bytes);
  std::string out(bytes.substr(0, ascii));
  if (ascii == bytes.size()) return out;
  out.reserve(bytes.size());
  for (std::size_t i = ascii; i < bytes.size();) AppendUtf8(out, NextCodePoint(bytes, i));
  return out;
}

std::string ToStoredBytes(std::string_view utf8, TEncodeSelect encoding) {
  if (encoding == TEncodeSelect::esUtf8) return SanitizeUtf8(utf8);
  const std::size_t ascii = AsciiPrefix(utf8);
  std::string out(utf8.substr(0, ascii));
  if (ascii == utf8.size()) return out;
  out.reserve(utf8.size());
  ForEachCodeUnit(utf8.substr(ascii), [&](char16_t u) { out += u < 128 ? static_cast<char>(u) : '?'; });
  return out;
}

std::string FromStoredBytes(std::string_view bytes, TEncodeSelect encoding) {
  if (encoding == TEncodeSelect::esUtf8) return SanitizeUtf8(bytes);
  const std::size_t ascii = AsciiPrefix(bytes);
  std::string out(bytes.substr(0, ascii));
  if (ascii == bytes.size()) return out;
  out.reserve(bytes.size());
  for (char c : bytes.substr(ascii)) {
    if (static_cast<unsigned char>(c) < 128) out += c;
    else AppendUtf8(out, kReplacement);
  }
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  ForEachCodeUnit(utf8, [&](char16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      out += static_cast<char>(u);
      return;
    }
    for (std::size_t k = 0; k < kCp1252High.size(); ++k) {
      if (kCp1252High[k] != 0 && kCp1252High[k] == u) {
        out += static_cast<char>(0x80 + k);
        return;
      }
    }
    out += '?';
  });
  return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  for (char c : ansi) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80 && b <= 0x9F) {
      char16_t u = kCp1252High[b - 0x80];
      AppendUtf8(out, u ? u : kReplacement);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

}  // namespace quelvar
