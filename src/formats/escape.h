#pragma once
// Escapers for strings that travel unencoded, and the matching unescaper.

#include <string>
#include <string_view>

namespace quelvar {

// Backslash, double quote, "/", BS, TAB, LF, FF, CR escaped, in that order.
std::string EscapeBasic(std::string_view text);
// Per UTF-16 code unit: short escapes for the five controls, backslash before
// '"' and '\', "\/" only after "<", a short list of plain ASCII kept, every
// other unit as "\uXXXX" (upper-case hex): "ação, 10%" ->
// "a\u00E7\u00E3o\u002C 10\u0025".
std::string EscapeJSONText(std::string_view text);
// Resolves \b \f \n \r \t, \uXXXX (surrogate pairs combined), and "\x" -> "x".
// Raises Error("Invalid unicode \uXXXX") for a non-hex \u sequence.
std::string UnescapeJSONText(std::string_view text);

}  // namespace quelvar
