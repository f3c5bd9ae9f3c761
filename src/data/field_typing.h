#pragma once
// Field typing of query results: the type name of a result column decides the
// field type, size, precision and scale of the record-set field it becomes.
//
// The type name is the declared type of a table column, or, for any other
// column, a name derived from the storage class of the first row's value
// (see TypeNameOfStorageClass). Rules, first match wins:
//   - the name is upper-cased and trimmed; "(n)" gives a size, "(p,s)" a
//     precision and scale; the words after the first are its qualifier, and
//     a leading "UNSIGNED" swaps places with the next word;
//   - INTEGER on a column named ROWID, _ROWID_ or OID is ftLargeint;
//   - integer, boolean, float, decimal, money, date/time, character, binary,
//     blob, memo and GUID names map to their types, with UNSIGNED variants
//     and auto-increment for INTEGER-like columns the engine marks so;
//   - a text type larger than 32767 becomes the matching memo/blob type;
//   - any other name, and the empty name, is ftWideString (default 32767).
//
// Choices of this server where the table leaves room: the XML names ("XML",
// "XMLDATA", "XMLTYPE") are ftWideMemo, "INTERVAL" is ftWideString like any
// other name; a size of 0 in parentheses counts as no size; a GUID field is
// 38 characters wide ("{8-4-4-4-12}").

#include <string>
#include <string_view>

#include "data/mem_table.h"

namespace quelvar {

// The largest size a text or byte field has before it becomes a memo or blob.
inline constexpr int kMaxStringFieldSize = 32767;

// The field definition of a result column named `columnName` whose type name
// is `typeName`. `autoIncrement` is the engine's report that the table column
// was declared with AUTOINCREMENT. The definition's name is `columnName`.
FieldDef FieldDefFromTypeName(std::string_view columnName, std::string_view typeName, bool autoIncrement);

// The type name of a column that does not come from a table, from the storage
// class (SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB, SQLITE_NULL)
// of its value in the first row: "INT64", "REAL", "NVARCHAR(32767)", "BLOB",
// or the empty name for null (and for a result without rows, pass SQLITE_NULL).
std::string TypeNameOfStorageClass(int storageClass);

}  // namespace quelvar
