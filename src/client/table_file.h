#pragma once
// A rows file turned into the record set a client sends as "Tabela".
//
// CSV: the first record names the fields, each "Name" or "Name:type" (the
// types of typed_value.h, string by default); every further record is a row,
// an empty cell of a non-text field is null. JSON: an array of objects, one
// per row; fields in order of first appearance, keys may carry ":type" too,
// otherwise the type follows the values (whole numbers int or largeint, any
// fraction float, true/false bool, anything else string; null is null).
// A text whose first non-blank character is "[" is JSON, anything else CSV.

#include <string>
#include <string_view>

#include "data/mem_table.h"

namespace quelvar::client {

// Fills `table` (redefined, open on its first row). Raises Error for a text
// that is not a rows file, a row with more cells than fields, or a value that
// does not read as its field's type.
void ReadRowsText(std::string_view text, MemTable& table);

// The holder text of `table` as a client sends it (tag "temp", values encoded).
std::string RecordSetText(MemTable& table);

// Reads the file at `path` and gives RecordSetText of its rows.
std::string RecordSetFromFile(const std::string& path);

}  // namespace quelvar::client
