#pragma once
// The SHA-256 of some bytes as 64 lower-case hex digits.

#include <string>
#include <string_view>

namespace quelvar::tools {

std::string Sha256Hex(std::string_view bytes);

}  // namespace quelvar::tools
