#pragma once
// A small writer of the panel's JSON answers: objects and arrays built in
// order, strings escaped (UTF-8 passed through, controls, '"', '\' and '<'
// escaped, so that no answer can close a script element).

#include <cstdint>
#include <string>
#include <string_view>

namespace quelvar::panel {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The name of the next member of the current object.
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::string_view text);
  JsonWriter& Number(double value);
  JsonWriter& Integer(std::int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  const std::string& Text() const { return text_; }

 private:
  void Separate();
  std::string text_;
  bool needComma_ = false;
};

}  // namespace quelvar::panel
