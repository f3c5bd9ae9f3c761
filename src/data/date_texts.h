#pragma once
// Dates and times as texts: the forms the database file stores them in, and
// the server's display form.
//
// Stored forms (the existing database files and the desktop clients rely on
// them):
//   date       "yyyy-mm-dd"                      e.g. "2023-12-31"
//   date-time  "yyyy-mm-dd" when the time of day is zero,
//              "hh:nn:ss.zzz" when the date part is zero (30/12/1899),
//              "yyyy-mm-dd hh:nn:ss.zzz" otherwise.
// Display form: "dd/mm/yyyy", plus " hh:nn:ss" when there is a time of day.

#include <optional>
#include <string>
#include <string_view>

#include "formats/wire_values.h"

namespace quelvar {

// The date part of `value` in the stored date form.
std::string StoredDateText(TDateTime value);
// `value` in the stored date-time form (one of the three above).
std::string StoredDateTimeText(TDateTime value);

// Reads a stored form back: "yyyy-mm-dd", "yyyy-mm-dd hh:nn[:ss[.fff]]"
// ("T" also accepted between date and time) and "hh:nn[:ss[.fff]]" (a time of
// day on 30/12/1899). Fractions are read to the millisecond. Anything else,
// including impossible dates and times, gives nullopt.
std::optional<TDateTime> ParseStoredDateTime(std::string_view text);

// Reads the display form: "dd/mm/yyyy", "dd/mm/yyyy hh:nn[:ss]" or
// "hh:nn[:ss]", surrounding blanks ignored. Anything else gives nullopt.
std::optional<TDateTime> ParseDisplayDateTime(std::string_view text);

}  // namespace quelvar
