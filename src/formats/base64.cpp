#include "formats/base64.h"

#include <array>
#include <cstdint>

#include "formats/text_codec.h"

namespace quelvar {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
  std::array<std::uint8_t, 256> t{};  // characters outside the alphabet read as 0 ("A")
  for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
  return t;
}
constexpr auto kDecode = MakeDecodeTable();

}  // namespace

std::string EncodeBytes(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  auto at = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[k])); };
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t n = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += kAlphabet[n >> 6 & 63];
    out += kAlphabet[n & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    std::uint32_t n = at(i) << 16;
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += "==";
  } else if (rest == 2) {
    std::uint32_t n = at(i) << 16 | at(i + 1) << 8;
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += kAlphabet[n >> 6 & 63];
    out += '=';
  }
  return out;
}

std::string DecodeBytes(std::string_view base64) {
  std::string out;
  const std::size_t groups = base64.size() / 4;  // characters after the last full group are ignored
  out.reserve(groups * 3);
  for (std::size_t g = 0; g < groups; ++g) {
    const char* p = base64.data() + g * 4;
    std::uint32_t n = 0;
    for (int k = 0; k < 4; ++k) n = n << 6 | kDecode[static_cast<unsigned char>(p[k])];
    out += static_cast<char>(n >> 16 & 0xFF);
    out += static_cast<char>(n >> 8 & 0xFF);
    out += static_cast<char>(n & 0xFF);
  }
  if (groups > 0) {
    // One or two final "=" drop one or two bytes of the last group.
    std::size_t end = groups * 4;
    if (base64[end - 1] == '=') {
      out.pop_back();
      if (base64[end - 2] == '=') out.pop_back();
    }
  }
  return out;
}

std::string EncodeText(std::string_view utf8) { return EncodeBytes(utf8); }

std::string DecodeText(std::string_view base64) { return SanitizeUtf8(DecodeBytes(base64)); }

}  // namespace quelvar
