#pragma once
// A small tagged value standing for the loosely typed values that flow between
// parameters, record-set fields and declared defaults.

#include <cstdint>
#include <string>

#include "formats/wire_values.h"

namespace quelvar {

class Variant {
 public:
  enum class Kind { Unassigned, Null, Boolean, Integer, Float, DateTime, Text, Bytes };

  Variant() = default;  // unassigned
  static Variant Null();
  static Variant Boolean(bool b);
  static Variant Integer(std::int64_t i);
  static Variant Float(double d);
  static Variant DateTime(TDateTime dt);
  static Variant Text(std::string s);
  static Variant Bytes(std::string bytes);

  Kind kind() const { return kind_; }
  bool isNullOrUnassigned() const { return kind_ == Kind::Unassigned || kind_ == Kind::Null; }

  // Conversions in the server's formats. Null/unassigned: asText gives "",
  // asInt64/asBoolean give 0/false, asDouble/asDateTime raise ConversionError
  // "Could not convert variant of type (Null) into type (Double)". A text that
  // does not read as the number raises ConversionError.
  std::string asText() const;
  std::int64_t asInt64() const;
  double asDouble() const;
  TDateTime asDateTime() const;
  bool asBoolean() const;
  const std::string& bytes() const { return text_; }

 private:
  Kind kind_ = Kind::Unassigned;
  bool bool_ = false;
  std::int64_t int_ = 0;
  double float_ = 0.0;
  std::string text_;
};

}  // namespace quelvar
