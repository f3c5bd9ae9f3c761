#include "formats/errors.h"

namespace quelvar {

void ThrowNotInteger(const std::string& text) {
  throw ConversionError("'" + text + "' is not a valid integer value");
}

void ThrowNotFloat(const std::string& text) {
  throw ConversionError("'" + text + "' is not a valid floating point value");
}

}  // namespace quelvar
