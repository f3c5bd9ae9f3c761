// Fuzz target: the update-information text as the update site sends it: the
// signature line's reader (with a fixed key, so every path up to the
// signature check runs) and the reader of the file list.

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/update_info.h"
#include "tools/update_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const quelvar::tools::UpdateKey key = [] {
    unsigned char raw[32] = {};
    for (unsigned char i = 0; i < sizeof raw; ++i) raw[i] = static_cast<unsigned char>(i * 7 + 1);
    return quelvar::tools::UpdateKey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw, sizeof raw));
  }();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)quelvar::tools::VerifiedUpdateText(text, key.get());
  if (const auto info = quelvar::tools::ParseUpdateInfo(text)) {
    for (const auto& file : info->files) (void)quelvar::tools::SiblingUrl("http://127.0.0.1/a/info.txt", file.name);
  }
  return 0;
}
