#include "data/field_reads.h"

#include <cstdio>

#include "data/date_texts.h"
#include "formats/errors.h"

namespace quelvar {

std::string FieldAsString(const Variant& value, TFieldType type) {
  if (value.kind() == Variant::Kind::DateTime && (type == TFieldType::ftDate || type == TFieldType::ftTime)) {
    const DateParts p = DecodeDateTime(value.asDouble());
    char buf[32];
    if (type == TFieldType::ftDate)
      std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.day, p.month, p.year);
    else
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    return buf;
  }
  return value.asText();
}

std::int64_t FieldAsInteger(const Variant& value) {
  if (value.kind() == Variant::Kind::Boolean) return value.asBoolean() ? 1 : 0;
  return value.asInt64();
}

double FieldAsFloat(const Variant& value) {
  if (value.isNullOrUnassigned()) return 0;
  if (value.kind() == Variant::Kind::Boolean) return value.asBoolean() ? 1 : 0;
  return value.asDouble();
}

bool FieldAsBoolean(const Variant& value) { return value.asBoolean(); }

TDateTime FieldAsDateTime(const Variant& value) {
  if (value.kind() == Variant::Kind::Text) {
    const std::string& text = value.bytes();
    if (auto stored = ParseStoredDateTime(text)) return *stored;
    if (auto display = ParseDisplayDateTime(text)) return *display;
    throw ConversionError("'" + text + "' is not a valid date and time");
  }
  if (value.kind() == Variant::Kind::Boolean) return value.asBoolean() ? 1 : 0;
  return value.asDateTime();
}

}  // namespace quelvar
