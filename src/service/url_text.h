#pragma once
// Percent escapes and the "&"-separated texts of query strings and url-encoded
// forms.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar::service {

// Resolves every "%XX" (two hex digits, any letter case) to its byte; a "%"
// not followed by two hex digits stays as it is. With `plusIsSpace`, "+"
// becomes a space first. The result is bytes (normally UTF-8).
std::string PercentDecode(std::string_view text, bool plusIsSpace = false);

// The pieces of "a=1&b=2&&c" between "&" separators, empty pieces left out.
std::vector<std::string_view> SplitAmpersand(std::string_view text);

// How many pieces SplitAmpersand would give, counting no further than
// `stopAfter` + 1 (enough to tell that a limit is passed). Linear, no copies.
std::size_t CountAmpersandPieces(std::string_view text, std::size_t stopAfter);

// The query or form entries as the listener hands them over: every piece
// decoded ("+" as a space, then percent escapes), in order.
std::vector<std::string> DecodedEntries(std::string_view text);

// True when the Content-Type value names "application/x-www-form-urlencoded".
bool IsUrlEncodedForm(std::string_view contentType);

}  // namespace quelvar::service
