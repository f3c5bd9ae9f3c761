#pragma once
// The signature of the update-information file and the key that checks it.
//
// The file's last line that is not blank reads
//
//   signature <Base64 of the 64-byte Ed25519 signature>
//
// and the signature covers every byte of the file before that line (line
// ends included). The public key is configured beside the program: the value
// of ChavePublicaAtualizacao in Config1.ini (section INDICE) - a PEM file's
// path, relative to the program folder or absolute, or the Base64 of the raw
// 32-byte key - or else the PEM file ChaveAtualizacao.pem in the program
// folder. Without a key no update is ever fetched.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <openssl/evp.h>

namespace quelvar::tools {

inline constexpr std::string_view kUpdateKeyFileName = "ChaveAtualizacao.pem";

struct PublicKeyDeleter {
  void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
using UpdateKey = std::unique_ptr<EVP_PKEY, PublicKeyDeleter>;

// The configured Ed25519 public key, or nothing when none is configured or it
// cannot be read as an Ed25519 key.
UpdateKey LoadUpdateKey(const std::filesystem::path& programFolder);

// The signed part of `text` when its signature line is present, well formed
// and verifies under `key`; nothing otherwise.
std::optional<std::string_view> VerifiedUpdateText(std::string_view text, EVP_PKEY* key);

}  // namespace quelvar::tools
