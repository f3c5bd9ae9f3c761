#pragma once
// Base64 (RFC 4648 standard alphabet, "=" padding, one line) of texts and bytes.
// Decoding never fails: characters after the last complete group of four are
// ignored, one or two final "=" drop bytes, characters outside the alphabet
// are read as if they were "A". Garbage in, garbage out, never a crash.

#include <string>
#include <string_view>

namespace quelvar {

// Base64 of the UTF-8 bytes of a text ("OK" -> "T0s="); "" stays "".
std::string EncodeText(std::string_view utf8);
// Base64 text -> UTF-8 text; ill-formed UTF-8 sequences become U+FFFD.
std::string DecodeText(std::string_view base64);
std::string EncodeBytes(std::string_view bytes);
std::string DecodeBytes(std::string_view base64);

}  // namespace quelvar
