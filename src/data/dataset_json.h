#pragma once
// The result-set JSON text, both ways.
//
// Writing: a MemTable becomes the holder text
//   {"ObjectType":"toDataset", "Direction":"odINOUT", "Encoded":"true",
//    "ValueType":"ovDataSet", "temp":[{"fields":[...], "buildside":"D"},
//    {"lines":[{"line0":[...]}, ...]}]}
// with every field definition and row value in its fixed form.
// Reading: such a text (as clients send it back) rebuilds the MemTable's
// field definitions and appends its rows.

#include <string>
#include <string_view>

#include "data/mem_table.h"
#include "formats/json_value.h"

namespace quelvar {

// Builds the record-set text of `table` into `holder` (kind toDataset, value
// type ovDataSet, tag `name` lower-cased, "table" when blank). The holder's
// vEncoding decides the stored bytes. Moves the cursor back to the first row.
void LoadFromDataset(TJSONValue& holder, std::string_view name, MemTable& table, bool encoded);

// The holder text that LoadFromDataset (holder with `encoding`) and ToJSON
// give, made straight in its encoded form: rows are written in pieces and
// each piece is Base64-encoded as it is made; the whole plain text never
// exists. Raises what the writing raises (a value its field cannot show).
EncodedText DatasetHolderText(MemTable& table, std::string_view name, bool encoded, TEncodeSelect encoding);

// The record-set text alone: {"fields":[...], "buildside":"D"}, {"lines":[...]}
std::string DatasetText(MemTable& table, bool encoded, bool utf8SpecialChars);

// Reads a holder text into `table` (closing and redefining it). A text that is
// empty or has no "[" changes nothing. Raises "Invalid JSON Data...", the JSON
// reader's errors, and conversion errors; rows posted before an error stay.
// On return the table is open on its first row. The holder takes the
// envelope's kind, direction, Encoded flag, value type and tag.
void WriteToDataset(TJSONValue& holder, std::string_view text, MemTable& table);

}  // namespace quelvar
