#include "panel/json_writer.h"

#include <cmath>
#include <cstdio>

namespace quelvar::panel {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '<': out += "\\u003c"; break;
      default:
        if (byte < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
          out += escaped;
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

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
  text_ += JsonString(name);
  text_.push_back(':');
  needComma_ = false;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  Separate();
  text_ += JsonString(text);
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
