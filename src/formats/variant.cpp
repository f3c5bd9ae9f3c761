#include "formats/variant.h"

#include <cstdio>

#include "formats/errors.h"
#include "formats/text_codec.h"

namespace quelvar {

Variant Variant::Null() {
  Variant v;
  v.kind_ = Kind::Null;
  return v;
}
Variant Variant::Boolean(bool b) {
  Variant v;
  v.kind_ = Kind::Boolean;
  v.bool_ = b;
  return v;
}
Variant Variant::Integer(std::int64_t i) {
  Variant v;
  v.kind_ = Kind::Integer;
  v.int_ = i;
  return v;
}
Variant Variant::Float(double d) {
  Variant v;
  v.kind_ = Kind::Float;
  v.float_ = d;
  return v;
}
Variant Variant::DateTime(TDateTime dt) {
  Variant v;
  v.kind_ = Kind::DateTime;
  v.float_ = dt;
  return v;
}
Variant Variant::Text(std::string s) {
  Variant v;
  v.kind_ = Kind::Text;
  v.text_ = std::move(s);
  return v;
}
Variant Variant::Bytes(std::string bytes) {
  Variant v;
  v.kind_ = Kind::Bytes;
  v.text_ = std::move(bytes);
  return v;
}

namespace {

[[noreturn]] void ThrowVariantNull(const char* target) {
  throw ConversionError(std::string("Could not convert variant of type (Null) into type (") + target + ")");
}

// "dd/mm/yyyy", followed by " hh:nn:ss" when the time of day is not zero.
std::string DateTimeText(TDateTime value) {
  const DateParts p = DecodeDateTime(value);
  char buf[48];
  if (p.hour == 0 && p.minute == 0 && p.second == 0 && p.ms == 0)
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.day, p.month, p.year);
  else
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", p.day, p.month, p.year, p.hour, p.minute,
                  p.second);
  return buf;
}

}  // namespace

std::string Variant::asText() const {
  switch (kind_) {
    case Kind::Unassigned:
    case Kind::Null: return "";
    case Kind::Boolean: return bool_ ? "True" : "False";
    case Kind::Integer: return std::to_string(int_);
    case Kind::Float: return FormatFloat(float_);
    case Kind::DateTime: return DateTimeText(float_);
    case Kind::Text:
    case Kind::Bytes: return text_;
  }
  return "";
}

std::int64_t Variant::asInt64() const {
  switch (kind_) {
    case Kind::Unassigned:
    case Kind::Null: return 0;
    case Kind::Boolean: return bool_ ? -1 : 0;
    case Kind::Integer: return int_;
    case Kind::Float:
    case Kind::DateTime: return static_cast<std::int64_t>(float_ + (float_ < 0 ? -0.5 : 0.5));
    case Kind::Text:
    case Kind::Bytes: return ParseInt64(text_);
  }
  return 0;
}

double Variant::asDouble() const {
  switch (kind_) {
    case Kind::Unassigned:
    case Kind::Null: ThrowVariantNull("Double");
    case Kind::Boolean: return bool_ ? -1.0 : 0.0;
    case Kind::Integer: return static_cast<double>(int_);
    case Kind::Float:
    case Kind::DateTime: return float_;
    case Kind::Text:
    case Kind::Bytes: return ParseFloat(text_);
  }
  return 0;
}

TDateTime Variant::asDateTime() const {
  if (isNullOrUnassigned()) ThrowVariantNull("Date");
  return asDouble();
}

bool Variant::asBoolean() const {
  switch (kind_) {
    case Kind::Unassigned:
    case Kind::Null: return false;
    case Kind::Boolean: return bool_;
    case Kind::Integer: return int_ != 0;
    case Kind::Float:
    case Kind::DateTime: return float_ != 0;
    case Kind::Text:
    case Kind::Bytes: {
      if (EqualsIgnoreCase(text_, "true")) return true;
      if (EqualsIgnoreCase(text_, "false")) return false;
      return ParseFloat(text_) != 0;
    }
  }
  return false;
}

}  // namespace quelvar
