#pragma once
// The operator panel's password, kept in Config1.ini as a salted slow hash:
//
//   pbkdf2-sha256$<iterations>$<salt, hex>$<derived key, hex>
//
// (PBKDF2 with HMAC-SHA-256, a 16-byte random salt, a 32-byte key). The
// password itself is never stored.

#include <string>
#include <string_view>

namespace quelvar::panel {

inline constexpr int kPasswordIterations = 120'000;

// A new hash of `password` with a fresh random salt.
std::string HashPassword(std::string_view password, int iterations = kPasswordIterations);

// True when `password` matches `stored` (compared in constant time). A stored
// value that is not of the form above, or whose iteration count lies outside
// 1000..10,000,000, matches nothing.
bool VerifyPassword(std::string_view password, std::string_view stored);

}  // namespace quelvar::panel
