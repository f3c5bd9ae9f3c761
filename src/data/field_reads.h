#pragma once
// Typed reads of one record-set field value, the same for a query result and
// a MemTable. Values are Variants; the field type decides the display form of
// dates.
//
//   AsString   null ""; Float with the decimal comma (FormatFloat); Boolean
//              "True"/"False"; DateTime "dd/mm/yyyy" for ftDate, "hh:nn:ss"
//              for ftTime, otherwise "dd/mm/yyyy" plus " hh:nn:ss" when there
//              is a time of day; texts and bytes as they are.
//   AsInteger  null 0; Boolean 1/0; Float and DateTime rounded; Text parsed
//              (ConversionError "'<text>' is not a valid integer value").
//   AsFloat    null 0; Boolean 1/0; Text parsed with the decimal comma
//              (ConversionError "'<text>' is not a valid floating point value").
//   AsBoolean  null false; numbers true when not zero; Text "true"/"false"
//              (any case) or a number.
//   AsDateTime null raises ConversionError; numbers are day counts; Text in a
//              stored form ("2023-12-31 08:30:00.000") or the display form
//              ("31/12/2023 08:30:00"), else ConversionError
//              "'<text>' is not a valid date and time".

#include <cstdint>
#include <string>

#include "formats/field_types.h"
#include "formats/variant.h"

namespace quelvar {

std::string FieldAsString(const Variant& value, TFieldType type);
std::int64_t FieldAsInteger(const Variant& value);
double FieldAsFloat(const Variant& value);
bool FieldAsBoolean(const Variant& value);
TDateTime FieldAsDateTime(const Variant& value);

}  // namespace quelvar
