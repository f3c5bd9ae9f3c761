#pragma once
// The text forms of single values: floats with the server's decimal comma and
// the wire letter "D", date-times as whole seconds since 30 December 1899, and
// the integer reads of the run-time conversions.
//
// The server's number format is fixed: decimal separator ",", thousands ".",
// date "dd/mm/yyyy". It is a constant, never the process locale.

#include <cstdint>
#include <string>
#include <string_view>

namespace quelvar {

inline constexpr char kDecimalSeparator = ',';

// A date-time: days since 1899-12-30 00:00, the time of day as the fraction.
using TDateTime = double;

// General format, 15 significant digits, decimal comma: 12.5 -> "12,5",
// 1.5e20 -> "1,5E20", 1e-7 -> "1E-7".
std::string FormatFloat(double value);
// Appends FloatToWire(FormatFloat(value)).
void AppendFloatWire(std::string& out, double value);
// Replaces every decimal separator by "D".
std::string FloatToWire(std::string_view localText);
// Replaces every "D" by the decimal separator.
std::string FloatFromWire(std::string_view wireText);
// Parses a float in the server's format (sign, digits, "," and digits, E
// exponent, surrounding blanks). Raises ConversionError otherwise.
double ParseFloat(std::string_view text);

// Seconds since 1899-12-30, rounded half to even.
std::int64_t DateTimeToWire(TDateTime value);
TDateTime DateTimeFromWire(std::int64_t seconds);

// Civil date/time helpers.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms = 0);
struct DateParts {
  int year, month, day, hour, minute, second, ms;
};
DateParts DecodeDateTime(TDateTime value);

// Decimal integer reads (optional sign, surrounding blanks; "$"/"0x" hex
// accepted as the run-time conversion does). Raise ConversionError.
std::int32_t ParseInt32(std::string_view text);
std::int64_t ParseInt64(std::string_view text);

}  // namespace quelvar
