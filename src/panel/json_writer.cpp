#include "panel/json_writer.h"

#include <cmath>
#include <cstdio>

#include "formats/json_string.h"

namespace quelvar::panel {

void JsonWriter::Separate() {
  if (needComma_) text_.push_back(',');
  needComma_ = true;
}

JsonWriter& JsonWriter::BeginObject() {
  Separate();
  text_.push_back('{');
  needComma_ = false;
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  text_.push_back('}');
  needComma_ = true;
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  Separate();
  text_.push_back('[');
  needComma_ = false;
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  text_.push_back(']');
  needComma_ = true;
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
  Separate();
  text_ += JsonString(name, JsonStringFor::Page);
  text_.push_back(':');
  needComma_ = false;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  Separate();
  text_ += JsonString(text, JsonStringFor::Page);
  return *this;
}

JsonWriter& JsonWriter::Number(double value) {
  Separate();
  if (!std::isfinite(value)) {
    text_ += "null";
    return *this;
  }
  char number[32];
  std::snprintf(number, sizeof number, "%.3f", value);
  text_ += number;
  return *this;
}

JsonWriter& JsonWriter::Integer(std::int64_t value) {
  Separate();
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  Separate();
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  Separate();
  text_ += "null";
  return *this;
}

}  // namespace quelvar::panel
