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

// Appends EncodeBytes(bytes) to `out`.
void AppendBase64(std::string& out, std::string_view bytes);

// Base64 of bytes that arrive in pieces, appended to one string as they come:
// after Finish, `out` has grown by EncodeBytes of all the pieces joined.
class Base64Writer {
 public:
  void Write(std::string& out, std::string_view bytes);
  // Writes the last one or two bytes with their padding. Call once, at the end.
  void Finish(std::string& out);

 private:
  char carry_[2] = {};
  std::size_t carried_ = 0;
};

}  // namespace quelvar
