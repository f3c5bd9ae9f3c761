#pragma once
// A date given as text by a client ("dd/mm/yyyy", the server's date form),
// as the document lists and the cost calculation read their date arguments.

#include <cmath>
#include <string>
#include <string_view>

#include "data/date_texts.h"
#include "formats/errors.h"

namespace quelvar::inventory {

// The day `text` names (a time of day after it is dropped); raises
// ConversionError "'<text>' is not a valid date" for anything else, the empty
// text included.
inline TDateTime DocumentDate(std::string_view text) {
  const auto value = text.find('/') == std::string_view::npos ? std::nullopt : ParseDisplayDateTime(text);
  if (!value) throw ConversionError("'" + std::string(text) + "' is not a valid date");
  return std::trunc(*value);
}

}  // namespace quelvar::inventory
