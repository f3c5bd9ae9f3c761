#include "data/row_store.h"

#include <limits>

#include "formats/errors.h"

namespace quelvar {

using Kind = Variant::Kind;

Variant CellView::ToVariant() const {
  switch (kind) {
    case Kind::Unassigned: return Variant();
    case Kind::Null: return Variant::Null();
    case Kind::Boolean: return Variant::Boolean(boolean);
    case Kind::Integer: return Variant::Integer(integer);
    case Kind::Float: return Variant::Float(number);
    case Kind::DateTime: return Variant::DateTime(number);
    case Kind::Text: return Variant::Text(std::string(bytes));
    case Kind::Bytes: return Variant::Bytes(std::string(bytes));
  }
  return Variant::Null();
}

CellView CellView::Of(const Variant& value) {
  CellView view;
  view.kind = value.kind();
  switch (value.kind()) {
    case Kind::Boolean: view.boolean = value.asBoolean(); break;
    case Kind::Integer: view.integer = value.asInt64(); break;
    case Kind::Float:
    case Kind::DateTime: view.number = value.asDouble(); break;
    case Kind::Text:
    case Kind::Bytes: view.bytes = value.bytes(); break;
    default: break;
  }
  return view;
}

CellView RowStore::At(std::size_t row, int column) const {
  const Cell& cell = cells_[row * columns_ + static_cast<std::size_t>(column)];
  CellView view;
  view.kind = static_cast<Kind>(cell.kind);
  switch (view.kind) {
    case Kind::Boolean: view.boolean = cell.boolean; break;
    case Kind::Integer: view.integer = cell.integer; break;
    case Kind::Float:
    case Kind::DateTime: view.number = cell.number; break;
    case Kind::Text:
    case Kind::Bytes: view.bytes = std::string_view(bytes_).substr(cell.offset, cell.size); break;
    default: break;
  }
  return view;
}

void RowStore::AddNull() {
  Cell cell{};
  cell.kind = static_cast<std::uint8_t>(Kind::Null);
  cells_.push_back(cell);
}

void RowStore::AddBoolean(bool value) {
  Cell cell{};
  cell.kind = static_cast<std::uint8_t>(Kind::Boolean);
  cell.boolean = value;
  cells_.push_back(cell);
}

void RowStore::AddInteger(std::int64_t value) {
  Cell cell{};
  cell.kind = static_cast<std::uint8_t>(Kind::Integer);
  cell.integer = value;
  cells_.push_back(cell);
}

void RowStore::AddFloat(double value) {
  Cell cell{};
  cell.kind = static_cast<std::uint8_t>(Kind::Float);
  cell.number = value;
  cells_.push_back(cell);
}

void RowStore::AddDateTime(double value) {
  Cell cell{};
  cell.kind = static_cast<std::uint8_t>(Kind::DateTime);
  cell.number = value;
  cells_.push_back(cell);
}

void RowStore::AddBytesOf(Kind kind, std::string_view bytes) {
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) throw Error("A field value is too large");
  Cell cell{};
  cell.kind = static_cast<std::uint8_t>(kind);
  cell.size = static_cast<std::uint32_t>(bytes.size());
  cell.offset = bytes_.size();
  bytes_.append(bytes);
  cells_.push_back(cell);
}

void RowStore::AddText(std::string_view text) { AddBytesOf(Kind::Text, text); }

void RowStore::AddBytes(std::string_view bytes) { AddBytesOf(Kind::Bytes, bytes); }

void RowStore::Add(const Variant& value) {
  switch (value.kind()) {
    case Kind::Unassigned: {
      Cell cell{};
      cell.kind = static_cast<std::uint8_t>(Kind::Unassigned);
      cells_.push_back(cell);
      return;
    }
    case Kind::Null: AddNull(); return;
    case Kind::Boolean: AddBoolean(value.asBoolean()); return;
    case Kind::Integer: AddInteger(value.asInt64()); return;
    case Kind::Float: AddFloat(value.asDouble()); return;
    case Kind::DateTime: AddDateTime(value.asDouble()); return;
    case Kind::Text: AddText(value.bytes()); return;
    case Kind::Bytes: AddBytes(value.bytes()); return;
  }
}

void RowStore::Reserve(std::size_t rows, std::size_t bytes) {
  cells_.reserve(cells_.size() + rows * columns_);
  bytes_.reserve(bytes_.size() + bytes);
}

}  // namespace quelvar
