// Fuzz target: the lenient JSON reader on arbitrary texts, then every access
// a handler makes on the result (positions, values as text, arrays by key,
// elements). Any exception outside the quelvar::Error family is a finding.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/json_text.h"

namespace {

void Walk(const quelvar::json::Wrapper& wrapper, int depth) {
  if (depth > 8 || wrapper.holdsNothing()) return;
  const std::size_t count = wrapper.count();
  for (std::size_t n = 0; n <= count; ++n) {  // one past the end on purpose
    const auto pair = wrapper.member(n);
    (void)pair;
    if (const auto* value = wrapper.valueAt(n)) (void)value->asText();
    Walk(wrapper.element(n), depth + 1);
  }
  if (wrapper.isObject() && count > 0) {
    const auto first = wrapper.member(0);
    try {
      Walk(wrapper.arrayUnder(first.name), depth + 1);
    } catch (const quelvar::Error&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    Walk(quelvar::json::Wrapper::Of(text), 0);
  } catch (const quelvar::Error&) {
    // Syntax errors, and the conversion error of a "\u" escape whose four
    // characters are not hexadecimal, are the reader's answers to bad input.
  }
  return 0;
}
