#include "panel/password_hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <optional>
#include <stdexcept>
#include <vector>

#include "panel/random_token.h"

namespace quelvar::panel {
namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kKeyBytes = 32;
constexpr int kMinIterations = 1000;
constexpr int kMaxIterations = 10'000'000;

std::vector<unsigned char> Derive(std::string_view password, const std::vector<unsigned char>& salt, int iterations,
                                  std::size_t size) {
  std::vector<unsigned char> key(size);
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                        static_cast<int>(salt.size()), iterations, EVP_sha256(), static_cast<int>(key.size()),
                        key.data()) != 1) {
    throw std::runtime_error("the password hash could not be computed");
  }
  return key;
}

std::optional<std::vector<unsigned char>> FromHex(std::string_view hex) {
  if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
  std::vector<unsigned char> bytes;
  bytes.reserve(hex.size() / 2);
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = nibble(hex[i]);
    const int low = nibble(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<unsigned char>(high * 16 + low));
  }
  return bytes;
}

// The next "$"-separated piece of `rest`, taken off it.
std::string_view NextPiece(std::string_view& rest) {
  const auto dollar = rest.find('$');
  const std::string_view piece = rest.substr(0, dollar);
  rest = dollar == std::string_view::npos ? std::string_view{} : rest.substr(dollar + 1);
  return piece;
}

}  // namespace

std::string HashPassword(std::string_view password, int iterations) {
  if (iterations < kMinIterations || iterations > kMaxIterations) {
    throw std::invalid_argument("iteration count out of range");
  }
  const std::vector<unsigned char> salt = RandomBytes(kSaltBytes);
  return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + ToHex(salt) + "$" +
         ToHex(Derive(password, salt, iterations, kKeyBytes));
}

bool VerifyPassword(std::string_view password, std::string_view stored) {
  std::string_view rest = stored;
  if (NextPiece(rest) != kScheme) return false;
  const std::string_view count = NextPiece(rest);
  if (count.empty() || count.size() > 8 || count.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const int iterations = std::stoi(std::string(count));
  if (iterations < kMinIterations || iterations > kMaxIterations) return false;
  const auto salt = FromHex(NextPiece(rest));
  const std::string_view keyText = NextPiece(rest);
  const auto key = FromHex(keyText);
  if (!salt || !key || !rest.empty() || keyText.data() + keyText.size() != stored.data() + stored.size()) return false;
  const auto derived = Derive(password, *salt, iterations, key->size());
  return CRYPTO_memcmp(derived.data(), key->data(), key->size()) == 0;
}

}  // namespace quelvar::panel
