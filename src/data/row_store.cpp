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

RowStore::Cell& RowStore::NewCell(Kind kind) {
  Cell& cell = cells_.emplace_back();
  cell.kind = static_cast<std::uint8_t>(kind);
  cell.size = 0;
  cell.offset = 0;
  return cell;
}

void RowStore::AddNull() { NewCell(Kind::Null); }

void RowStore::AddBoolean(bool value) { NewCell(Kind::Boolean).boolean = value; }

void RowStore::AddInteger(std::int64_t value) { NewCell(Kind::Integer).integer = value; }

void RowStore::AddFloat(double value) { NewCell(Kind::Float).number = value; }

void RowStore::AddDateTime(double value) { NewCell(Kind::DateTime).number = value; }

void RowStore::AddBytesOf(Kind kind, std::string_view bytes) {
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) throw Error("A field value is too large");
  const std::uint64_t offset = bytes_.size();
  bytes_.append(bytes);
  Cell& cell = NewCell(kind);
  cell.size = static_cast<std::uint32_t>(bytes.size());
  cell.offset = offset;
}

void RowStore::AddText(std::string_view text) { AddBytesOf(Kind::Text, text); }

void RowStore::AddBytes(std::string_view bytes) { AddBytesOf(Kind::Bytes, bytes); }

void RowStore::Add(const Variant& value) {
  switch (value.kind()) {
    case Kind::Unassigned: NewCell(Kind::Unassigned); return;
    case Kind::Null: AddNull(); return;
    case Kind::Boolean: AddBoolean(value.asBoolean()); return;
    case Kind::Integer: AddInteger(value.asInt64()); return;
    case Kind::Float: AddFloat(value.asDouble()); return;
    case Kind::DateTime: AddDateTime(value.asDouble()); return;
    case Kind::Text: AddText(value.bytes()); return;
    case Kind::Bytes: AddBytes(value.bytes()); return;
  }
}

void RowStore::AddEmptied(int column) {
  AddNull();
  if (emptied_.empty()) emptied_.resize(columns_);
  ++emptied_.at(static_cast<std::size_t>(column));
}

void RowStore::Reserve(std::size_t rows, std::size_t bytes) {
  cells_.reserve(cells_.size() + rows * columns_);
  bytes_.reserve(bytes_.size() + bytes);
}

}  // namespace quelvar
