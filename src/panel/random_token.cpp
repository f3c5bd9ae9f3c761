#include "panel/random_token.h"

#include <openssl/rand.h>

#include <stdexcept>

namespace quelvar::panel {

std::vector<unsigned char> RandomBytes(std::size_t count) {
  std::vector<unsigned char> bytes(count);
  if (count > 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
    throw std::runtime_error("the random generator failed");
  }
  return bytes;
}

std::string ToHex(const std::vector<unsigned char>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 15]);
  }
  return text;
}

std::string RandomToken(std::size_t bytes) { return ToHex(RandomBytes(bytes)); }

}  // namespace quelvar::panel
