#pragma once
// MemTable: an in-memory record set. Field definitions plus rows, with a cursor.
// Query results are loaded into it, result-set JSON is written from it and read
// into it, and business procedures walk it.
//
// Values are Variants: Null, Integer, Float, Boolean, Text, Bytes or DateTime.
// Field access by name is ASCII case-insensitive; an unknown name raises
// Error("Field '<name>' not found").
//
// Rows live in a RowStore, which a table loaded from a query shares with the
// query (nothing is copied); the first change to shared rows copies them.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/row_store.h"
#include "formats/field_types.h"
#include "formats/variant.h"

namespace quelvar {

struct FieldDef {
  std::string name;
  TFieldType type = TFieldType::ftUnknown;
  int size = 0;        // characters for strings, 0 for most other types
  int precision = 0;   // digits for float and decimal types
  int scale = 0;       // decimal places for decimal types
  bool required = false;
  bool readOnly = false;
  bool inKey = false;          // provider flag pfInKey
  bool autoIncrement = false;  // marked as auto-incrementing
};

class MemTable {
 public:
  // Structure. Changing definitions closes the table.
  void ClearFieldDefs();
  // Adds a definition; for the float types without precision, the type's
  // default precision (15 ftFloat/ftCurrency, 7 ftSingle, 19 ftExtended).
  void AddFieldDef(FieldDef def);
  const std::vector<FieldDef>& Fields() const { return defs_; }
  FieldDef& Field(int index) { return defs_.at(static_cast<std::size_t>(index)); }
  int FieldCount() const { return static_cast<int>(defs_.size()); }
  // Index of the first field of that name (ASCII case-insensitive), or -1.
  int FieldIndex(std::string_view name) const;

  // Open: an empty table with the current definitions. Close: drops the rows.
  void Open();
  void Close();
  bool Active() const { return active_; }
  // Opens the table on `rows` (as many columns as there are fields), in their
  // order or the sort in force; cursor on the first row.
  void OpenOn(std::shared_ptr<const RowStore> rows);
  // The fields whose rows came with values left empty (their type could not
  // hold them), in field order, with how many.
  std::vector<std::pair<std::string, std::size_t>> EmptiedValues() const;

  // Appending: Append starts a row with every field null, SetValue fills it,
  // Post stores it at the end. Raises Error when the table is closed.
  // Append while a row is pending posts that row first; SetValue outside an
  // Append raises Error; Post with nothing pending does nothing. After Post
  // the cursor is on the new row (its sorted place when a sort is in force).
  void Append();
  void SetValue(int field, Variant value);
  void SetValue(std::string_view field, Variant value);
  void Post();

  // Cursor.
  int RecordCount() const { return static_cast<int>(order_.size()); }
  void First() { cursor_ = 0; }
  void Next() {
    if (cursor_ < RecordCount()) ++cursor_;
  }
  bool Eof() const { return cursor_ >= RecordCount(); }
  int RecNo() const { return cursor_ + 1; }  // 1-based

  // Reads on the current row. A null value reads as "" / 0 / false; a date read
  // of a null value raises. Reading with no current row raises Error.
  Variant Value(int field) const;
  Variant Value(std::string_view field) const;
  // The value without a copy, valid until the table changes.
  CellView Cell(int field) const;
  bool IsNull(std::string_view field) const { return Cell(RequireField(field)).IsNull(); }
  std::string AsString(std::string_view field) const;
  std::int64_t AsInteger(std::string_view field) const;
  double AsFloat(std::string_view field) const;
  bool AsBoolean(std::string_view field) const;
  TDateTime AsDateTime(std::string_view field) const;

  // Ascending order of the listed fields (";"-separated), compared left to
  // right, texts without regard to case, nulls first, stable for equal keys.
  // An empty list restores insertion order.
  // An unknown field name raises Error("Field '<name>' not found") and leaves
  // the order unchanged. The cursor goes to the first row. Rows posted later
  // take their sorted place. The sort lasts until the next SortOn or
  // ClearFieldDefs; Close keeps it.
  void SortOn(std::string_view fields, bool caseInsensitive = true);

 private:
  // One sort field of one row, computed once: its rank (nulls, numbers,
  // texts, bytes), its number, or the place of its comparison bytes (texts
  // as their code points, case-folded when asked, written out again in
  // UTF-8, whose byte order is the code points' order).
  struct SortKey {
    std::uint8_t rank = 0;
    bool isInteger = false;
    std::uint32_t size = 0;
    union {
      std::int64_t integer;
      double number;
      std::uint64_t offset;
    };
    SortKey() : integer(0) {}
  };

  int RequireField(std::string_view name) const;
  std::size_t CurrentRow() const;  // rows_ index of the cursor's row
  RowStore& WritableRows();
  void AddSortKeys(std::size_t row);
  void RebuildOrder();
  int CompareKeys(const SortKey& a, const SortKey& b) const;
  // Row a sorts before row b by the sort keys (rows_ indices).
  bool RowLess(std::size_t a, std::size_t b) const;

  std::vector<FieldDef> defs_;
  std::shared_ptr<const RowStore> rows_ = std::make_shared<RowStore>();  // insertion order
  std::vector<std::size_t> order_;  // view order (indices into rows_)
  std::vector<SortKey> sortKeys_;   // sortFields_.size() per row, in rows_ order
  std::string sortBytes_;
  std::vector<Variant> pending_;
  bool appending_ = false;
  bool active_ = false;
  int cursor_ = 0;
  std::vector<int> sortFields_;  // empty: insertion order
  bool sortCaseInsensitive_ = true;
};

}  // namespace quelvar
