#pragma once
// The compressed reply body: a zlib stream (RFC 1950, deflate at the default
// level) whose content is the 4-byte little-endian length of the payload
// followed by the payload.

#include <string>
#include <string_view>

namespace quelvar::service {

// Raises Error when the payload does not fit the 4-byte length or zlib fails.
std::string CompressReplyBody(std::string_view payload);

}  // namespace quelvar::service
