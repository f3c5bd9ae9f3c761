#include "tools/update_signature.h"

#include <openssl/bio.h>
#include <openssl/pem.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "tools/safety_settings.h"

namespace quelvar::tools {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSignatureWord = "signature";
constexpr std::size_t kSignatureSize = 64;
constexpr std::size_t kRawKeySize = 32;

// Strict Base64 (with padding) to bytes; nothing on any other character.
std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                        c == '/';
    const bool padding = c == '=' && i + 2 >= text.size();
    if (!letter && !padding) return std::nullopt;
  }
  std::string bytes(text.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                     reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (length < 0) return std::nullopt;
  std::size_t padding = 0;
  for (std::size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) ++padding;
  bytes.resize(static_cast<std::size_t>(length) - padding);
  return bytes;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  return text;
}

UpdateKey KeyFromPem(const std::string& pem) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  if (!bio) return nullptr;
  UpdateKey key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) return nullptr;
  return key;
}

std::optional<std::string> ReadSmallFile(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec) || fs::file_size(file, ec) > 64 * 1024) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

UpdateKey LoadUpdateKey(const fs::path& programFolder) {
  if (const auto setting = SettingsValue(programFolder, kUpdateKeySetting); setting && !setting->empty()) {
    if (const auto raw = DecodeBase64(*setting); raw && raw->size() == kRawKeySize) {
      return UpdateKey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                                   reinterpret_cast<const unsigned char*>(raw->data()), raw->size()));
    }
    const fs::path file = fs::path(*setting).is_absolute() ? fs::path(*setting) : programFolder / *setting;
    const auto pem = ReadSmallFile(file);
    return pem ? KeyFromPem(*pem) : nullptr;
  }
  const auto pem = ReadSmallFile(programFolder / std::string(kUpdateKeyFileName));
  return pem ? KeyFromPem(*pem) : nullptr;
}

std::optional<std::string_view> VerifiedUpdateText(std::string_view text, EVP_PKEY* key) {
  if (!key) return std::nullopt;
  const std::string_view content = Trimmed(text);
  const std::size_t lineStart = content.rfind('\n') == std::string_view::npos ? 0 : content.rfind('\n') + 1;
  const std::string_view line = Trimmed(content.substr(lineStart));
  if (line.substr(0, kSignatureWord.size()) != kSignatureWord) return std::nullopt;
  const std::string_view rest = line.substr(kSignatureWord.size());
  if (rest.empty() || (rest.front() != ' ' && rest.front() != '\t')) return std::nullopt;
  const auto signature = DecodeBase64(Trimmed(rest));
  if (!signature || signature->size() != kSignatureSize) return std::nullopt;

  // The signed bytes: everything before the signature line, as received.
  const std::size_t offset = static_cast<std::size_t>(content.data() - text.data()) + lineStart;
  const std::string_view message = text.substr(0, offset);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key) != 1) return std::nullopt;
  const int verified =
      EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature->data()), signature->size(),
                       reinterpret_cast<const unsigned char*>(message.data()), message.size());
  if (verified != 1) return std::nullopt;
  return message;
}

}  // namespace quelvar::tools
