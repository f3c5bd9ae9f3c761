#pragma once
// Character-level conversions: UTF-8 <-> UTF-16 code units, the byte encodings
// selected by TEncodeSelect, and the Windows-1252 code page of the binary
// parameter block. Strings are UTF-8 everywhere else in the system.

#include <string>
#include <string_view>

namespace quelvar {

enum class TEncodeSelect { esASCII = 0, esUtf8 = 1, esANSI = 2 };

// Lenient UTF-8 decoding: every ill-formed sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// Lone surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// Appends code point cp as UTF-8 (invalid code points as U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);
// Replaces ill-formed UTF-8 sequences by U+FFFD.
std::string SanitizeUtf8(std::string_view bytes);

// Text -> stored bytes. esUtf8: unchanged (sanitised). esASCII/esANSI: one byte
// per UTF-16 code unit, "?" for every code unit above 127.
std::string ToStoredBytes(std::string_view utf8, TEncodeSelect encoding);
// Stored bytes -> text. esASCII/esANSI: bytes above 127 become U+FFFD.
std::string FromStoredBytes(std::string_view bytes, TEncodeSelect encoding);

// UTF-8 -> Windows-1252; characters outside the code page become "?".
std::string Utf8ToAnsi(std::string_view utf8);
// Windows-1252 -> UTF-8 (the five undefined bytes map to U+FFFD).
std::string AnsiToUtf8(std::string_view ansi);

// ASCII-only case changes (only a-z / A-Z change).
std::string UpperAscii(std::string_view s);
std::string LowerAscii(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Removes every character up to and including the space (code 0..32) from both ends.
std::string_view Trim(std::string_view s);

}  // namespace quelvar
