#pragma once
// The value types a person names on the command line ("Flag:int=4") and in a
// rows file's header ("Quantidade:float"): each maps to a parameter value
// type and a record-set field type, and reads its value from text.
//
//   string (the default)  text as written
//   memo                  text, sent as a memo field in record sets
//   int                   32-bit integer
//   largeint              64-bit integer
//   float                 decimal number, "12.5" or "12,5"
//   bool                  true/false, 1/0 (any letter case)
//   date, datetime        "dd/mm/yyyy[ hh:nn[:ss]]" or "yyyy-mm-dd[ hh:nn[:ss]]"

#include <string>
#include <string_view>

#include "formats/field_types.h"
#include "formats/param_types.h"
#include "formats/variant.h"

namespace quelvar::client {

struct TypedValueKind {
  std::string_view name;
  TObjectValue paramType;
  TFieldType fieldType;
};

// The kind of that name (any letter case); an unknown name raises Error.
const TypedValueKind& KindNamed(std::string_view name);
const TypedValueKind& StringKind();

// Reads `text` as a value of `kind`; raises Error naming the text when it
// does not read. Texts are never null; an empty text of another kind is null.
Variant ReadTypedValue(const TypedValueKind& kind, std::string_view text);

}  // namespace quelvar::client
