#pragma once
// A text as a JSON string literal: quotes, backslashes and control characters
// escaped (the short forms where JSON has them), UTF-8 passed through as it
// is. For a text that a page may put inside a script element, '<' is escaped
// too, so that it can never close it.

#include <string>
#include <string_view>

namespace quelvar {

enum class JsonStringFor { Data, Page };

// Appends the literal to `out`.
void AppendJsonString(std::string &out, std::string_view text, JsonStringFor use = JsonStringFor::Data);

std::string JsonString(std::string_view text, JsonStringFor use = JsonStringFor::Data);

}  // namespace quelvar
