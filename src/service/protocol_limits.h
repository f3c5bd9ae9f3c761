#pragma once
// The fixed limits of the HTTP protocol the listener accepts (see listener.h
// for the replies that refuse what passes them).

#include <cstddef>
#include <cstdint>

namespace quelvar::service {

// Longest header block accepted, in lines (the request line not counted).
inline constexpr std::size_t kMaxHeaderLines = 1024;
// Longest header block accepted, in bytes (request line included).
inline constexpr std::uint32_t kMaxHeaderBytes = 256u * 1024u;
// Longest single header field (name and value).
inline constexpr std::size_t kMaxFieldBytes = 32u * 1024u;
// Longest query string, and most "&"-separated pairs in a query string or a
// url-encoded form body.
inline constexpr std::size_t kMaxQueryBytes = 64u * 1024u;
inline constexpr std::size_t kMaxQueryPairs = 10'000;
// Largest request body accepted; a larger one gets 413 and the connection closes.
inline constexpr std::uint64_t kMaxBodyBytes = 256ull * 1024ull * 1024ull;

}  // namespace quelvar::service
