#pragma once
// The printed form of an answer's output parameters.
//
// table (default): each plain output as "NAME: value" (line breaks of the
//   value as lines), each result set as "NAME:" followed by an aligned table
//   and "(N rows)"; floats, dates and flags in the server's display forms
//   ("12,5", "31/12/2023", "True"), nulls empty.
// csv: each result set as CSV (a header record, then the rows; values as in
//   the table form, texts exact), result sets apart by an empty line; plain
//   outputs before them as the records of a "name,value" table.
// json: one object, a member per output: a result set as an array of row
//   objects (integers and floats as numbers, flags as true/false, dates as
//   display texts, nulls as null), a plain output as its text.
// An answer without output parameters prints its result text.

#include <string>
#include <string_view>

#include "client/event_answer.h"

namespace quelvar::client {

enum class OutputFormat { Table, Csv, Json };

// "table", "csv" or "json"; anything else raises Error.
OutputFormat OutputFormatNamed(std::string_view name);

// CR LF and lone CR become LF; final line breaks are dropped.
std::string Lines(std::string_view text);

std::string FormatAnswer(EventAnswer& answer, OutputFormat format);

}  // namespace quelvar::client
