#include "client/typed_value.h"

#include <array>
#include <limits>

#include "data/date_texts.h"
#include "formats/errors.h"
#include "formats/text_codec.h"
#include "formats/wire_values.h"

namespace quelvar::client {
namespace {

constexpr std::array<TypedValueKind, 8> kKinds = {{
    {"string", TObjectValue::ovString, TFieldType::ftWideString},
    {"memo", TObjectValue::ovWideMemo, TFieldType::ftWideMemo},
    {"int", TObjectValue::ovInteger, TFieldType::ftInteger},
    {"largeint", TObjectValue::ovLargeint, TFieldType::ftLargeint},
    {"float", TObjectValue::ovFloat, TFieldType::ftFloat},
    {"bool", TObjectValue::ovBoolean, TFieldType::ftBoolean},
    {"date", TObjectValue::ovDate, TFieldType::ftDate},
    {"datetime", TObjectValue::ovDateTime, TFieldType::ftDateTime},
}};

[[noreturn]] void NotA(std::string_view text, std::string_view kind) {
  throw Error("'" + std::string(text) + "' is not a valid " + std::string(kind) + " value");
}

}  // namespace

const TypedValueKind& KindNamed(std::string_view name) {
  for (const TypedValueKind& kind : kKinds) {
    if (EqualsIgnoreCase(kind.name, name)) return kind;
  }
  throw Error("unknown value type '" + std::string(name) +
              "' (string, memo, int, largeint, float, bool, date, datetime)");
}

const TypedValueKind& StringKind() { return kKinds[0]; }

Variant ReadTypedValue(const TypedValueKind& kind, std::string_view text) {
  if (kind.fieldType == TFieldType::ftWideString || kind.fieldType == TFieldType::ftWideMemo)
    return Variant::Text(std::string(text));
  const std::string_view trimmed = Trim(text);
  if (trimmed.empty()) return Variant::Null();
  const std::string value(trimmed);
  try {
    switch (kind.fieldType) {
      case TFieldType::ftInteger: {
        const std::int64_t n = ParseInt64(value);
        if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max())
          NotA(text, kind.name);
        return Variant::Integer(n);
      }
      case TFieldType::ftLargeint:
        return Variant::Integer(ParseInt64(value));
      case TFieldType::ftFloat: {
        std::string local = value;
        if (local.find(',') == std::string::npos) {
          for (char& c : local)
            if (c == '.') c = kDecimalSeparator;
        }
        return Variant::Float(ParseFloat(local));
      }
      case TFieldType::ftBoolean: {
        const std::string lower = LowerAscii(value);
        if (lower == "true" || lower == "1") return Variant::Boolean(true);
        if (lower == "false" || lower == "0") return Variant::Boolean(false);
        NotA(text, kind.name);
      }
      case TFieldType::ftDate:
      case TFieldType::ftDateTime: {
        std::optional<TDateTime> when = ParseDisplayDateTime(value);
        if (!when) when = ParseStoredDateTime(value);
        if (!when) NotA(text, kind.name);
        return Variant::DateTime(*when);
      }
      default:
        break;
    }
  } catch (const ConversionError&) {
    NotA(text, kind.name);
  }
  return Variant::Text(value);
}

}  // namespace quelvar::client
