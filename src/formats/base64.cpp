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

void AppendBase64(std::string& out, std::string_view bytes) {
  const std::size_t start = out.size();
  out.resize(start + (bytes.size() + 2) / 3 * 4);
  char* p = out.data() + start;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t n = std::uint32_t{in[i]} << 16 | std::uint32_t{in[i + 1]} << 8 | in[i + 2];
    p[0] = kAlphabet[n >> 18 & 63];
    p[1] = kAlphabet[n >> 12 & 63];
    p[2] = kAlphabet[n >> 6 & 63];
    p[3] = kAlphabet[n & 63];
    p += 4;
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    const std::uint32_t n = std::uint32_t{in[i]} << 16;
    p[0] = kAlphabet[n >> 18 & 63];
    p[1] = kAlphabet[n >> 12 & 63];
    p[2] = '=';
    p[3] = '=';
  } else if (rest == 2) {
    const std::uint32_t n = std::uint32_t{in[i]} << 16 | std::uint32_t{in[i + 1]} << 8;
    p[0] = kAlphabet[n >> 18 & 63];
    p[1] = kAlphabet[n >> 12 & 63];
    p[2] = kAlphabet[n >> 6 & 63];
    p[3] = '=';
  }
}

std::string EncodeBytes(std::string_view bytes) {
  std::string out;
  AppendBase64(out, bytes);
  return out;
}

void Base64Writer::Write(std::string& out_, std::string_view bytes) {
  if (carried_ > 0) {  // complete the group begun by the last piece
    while (carried_ < 3 && !bytes.empty()) {
      if (carried_ == 2) {
        const char group[3] = {carry_[0], carry_[1], bytes.front()};
        AppendBase64(out_, std::string_view(group, 3));
        carried_ = 0;
        bytes.remove_prefix(1);
        break;
      }
      carry_[carried_++] = bytes.front();
      bytes.remove_prefix(1);
    }
    if (carried_ > 0) return;
  }
  const std::size_t whole = bytes.size() / 3 * 3;
  AppendBase64(out_, bytes.substr(0, whole));
  for (std::size_t i = whole; i < bytes.size(); ++i) carry_[carried_++] = bytes[i];
}

void Base64Writer::Finish(std::string& out_) {
  AppendBase64(out_, std::string_view(carry_, carried_));
  carried_ = 0;
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
