#pragma once
// Unpredictable bytes from the system's cryptographic generator, and their
// text form.

#include <cstddef>
#include <string>
#include <vector>

namespace quelvar::panel {

// `count` random bytes; throws std::runtime_error when the generator fails.
std::vector<unsigned char> RandomBytes(std::size_t count);

// Lower-case hexadecimal, two digits a byte.
std::string ToHex(const std::vector<unsigned char>& bytes);

// `bytes` random bytes as hexadecimal text (a session or form token).
std::string RandomToken(std::size_t bytes = 32);

}  // namespace quelvar::panel
