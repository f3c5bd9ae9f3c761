#pragma once
// RowStore: the rows of a record set in one compact block. Every field value
// is a 16-byte cell (its kind and number, or the place of its bytes); the
// bytes of every text and blob sit one after another in a single buffer. A
// query fills one store as it steps its statement, and a MemTable loaded from
// the query shares that same store instead of copying it. A store also counts,
// per column, the values its filler left empty because the column's type could
// not hold them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/variant.h"

namespace quelvar {

// One field value as stored: the kind, and the number or the bytes.
struct CellView {
  Variant::Kind kind = Variant::Kind::Null;
  bool boolean = false;
  std::int64_t integer = 0;
  double number = 0;       // Float and DateTime
  std::string_view bytes;  // Text and Bytes

  bool IsNull() const { return kind == Variant::Kind::Null || kind == Variant::Kind::Unassigned; }
  // The same value as a Variant (texts and blobs copied).
  Variant ToVariant() const;
  static CellView Of(const Variant& value);
};

class RowStore {
 public:
  explicit RowStore(int columns = 0) : columns_(static_cast<std::size_t>(columns < 0 ? 0 : columns)) {}

  int Columns() const { return static_cast<int>(columns_); }
  std::size_t Rows() const { return columns_ == 0 ? rows_ : cells_.size() / columns_; }
  CellView At(std::size_t row, int column) const;

  // Appending one row: exactly Columns() values, in column order.
  void AddNull();
  void AddBoolean(bool value);
  void AddInteger(std::int64_t value);
  void AddFloat(double value);
  void AddDateTime(double value);
  void AddText(std::string_view text);
  void AddBytes(std::string_view bytes);
  void Add(const Variant& value);
  // Ends the row (counts rows of a table without columns).
  void EndRow() {
    if (columns_ == 0) ++rows_;
  }

  // Room for `rows` more rows and `bytes` more bytes of text.
  void Reserve(std::size_t rows, std::size_t bytes);

  // Appends a null in place of a value of `column` that its type cannot hold,
  // and counts it.
  void AddEmptied(int column);
  // Values left empty, per column (empty when there were none).
  const std::vector<std::size_t>& Emptied() const { return emptied_; }

 private:
  struct Cell {
    std::uint8_t kind;
    std::uint32_t size;  // bytes of a text or blob
    union {
      bool boolean;
      std::int64_t integer;
      double number;
      std::uint64_t offset;  // of a text or blob in bytes_
    };
  };
  static_assert(sizeof(Cell) == 16);

  Cell& NewCell(Variant::Kind kind);
  void AddBytesOf(Variant::Kind kind, std::string_view bytes);

  std::size_t columns_;
  std::size_t rows_ = 0;  // only for a table without columns
  std::vector<Cell> cells_;
  std::string bytes_;
  std::vector<std::size_t> emptied_;
};

}  // namespace quelvar
