// Fuzz target: the multipart reader on arbitrary bodies and boundaries.
// The first byte gives the boundary length; the boundary follows, then the body.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "service/multipart_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t boundaryLength = std::min<std::size_t>(static_cast<unsigned char>(input[0]) % 16, size - 1);
  const std::string_view boundary = input.substr(1, boundaryLength);
  const std::string_view body = input.substr(1 + boundaryLength);
  const auto read = quelvar::service::ReadMultipart(body, boundary);
  for (const auto& part : read.parts) {
    if (part.body.data() < body.data() || part.body.data() + part.body.size() > body.data() + body.size()) {
      std::abort();
    }
  }
  (void)quelvar::service::MultipartBoundary(body);
  return 0;
}
