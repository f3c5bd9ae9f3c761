#include "data/mem_table.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "data/field_reads.h"
#include "formats/errors.h"
#include "formats/text_codec.h"

namespace quelvar {

using enum TFieldType;

namespace {

// The next code point of a UTF-8 text; an ill-formed byte reads as U+FFFD.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + static_cast<std::size_t>(extra) >= s.size()) {
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  const bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

// ASCII and the Latin-1 capitals from U+00C0 to U+00DE (but U+00D7) to lower case.
char32_t FoldCase(char32_t cp) {
  if (cp >= U'A' && cp <= U'Z') return cp + 32;
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 32;
  return cp;
}

// The comparison bytes of a text: its code points, case-folded when asked,
// written out again in UTF-8, so that comparing the bytes compares the texts.
void AppendTextKey(std::string& out, std::string_view text, bool caseInsensitive) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {  // the common case, without a decode
      out += static_cast<char>(caseInsensitive && b >= 'A' && b <= 'Z' ? b + 32 : b);
      ++i;
      continue;
    }
    char32_t cp = NextCodePoint(text, i);
    if (caseInsensitive) cp = FoldCase(cp);
    AppendUtf8(out, cp);
  }
}

int CompareBytes(std::string_view a, std::string_view b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int DefaultPrecision(TFieldType type) {
  switch (type) {
    case ftFloat:
    case ftCurrency: return 15;
    case ftSingle: return 7;
    case ftExtended: return 19;
    default: return 0;
  }
}

}  // namespace

void MemTable::ClearFieldDefs() {
  defs_.clear();
  sortFields_.clear();
  Close();
}

void MemTable::AddFieldDef(FieldDef def) {
  if (def.precision == 0) def.precision = DefaultPrecision(def.type);
  defs_.push_back(std::move(def));
  Close();
}

int MemTable::FieldIndex(std::string_view name) const {
  for (std::size_t i = 0; i < defs_.size(); ++i)
    if (EqualsIgnoreCase(defs_[i].name, name)) return static_cast<int>(i);
  return -1;
}

void MemTable::Open() {
  if (active_) return;
  Close();
  active_ = true;
}

void MemTable::Close() {
  rows_ = std::make_shared<RowStore>(FieldCount());
  order_.clear();
  sortKeys_.clear();
  sortBytes_.clear();
  pending_.clear();
  appending_ = false;
  cursor_ = 0;
  active_ = false;
}

void MemTable::OpenOn(std::shared_ptr<const RowStore> rows) {
  if (!rows || rows->Columns() != FieldCount()) throw Error("The rows do not match the record set's fields");
  Close();
  rows_ = std::move(rows);
  active_ = true;
  RebuildOrder();
}

std::vector<std::pair<std::string, std::size_t>> MemTable::EmptiedValues() const {
  std::vector<std::pair<std::string, std::size_t>> fields;
  const std::vector<std::size_t>& emptied = rows_->Emptied();
  for (std::size_t i = 0; i < emptied.size() && i < defs_.size(); ++i)
    if (emptied[i] > 0) fields.emplace_back(defs_[i].name, emptied[i]);
  return fields;
}

RowStore& MemTable::WritableRows() {
  if (rows_.use_count() != 1) rows_ = std::make_shared<RowStore>(*rows_);
  // Every store is made non-const (by this table or by a query) and is only
  // ever changed here, by its one remaining owner.
  return const_cast<RowStore&>(*rows_);
}

void MemTable::Append() {
  if (!active_) throw Error("The record set is closed");
  if (appending_) Post();
  pending_.assign(defs_.size(), Variant::Null());
  appending_ = true;
}

void MemTable::SetValue(int field, Variant value) {
  if (!appending_) throw Error("The record set has no row being appended");
  if (field < 0 || field >= FieldCount())
    throw Error("Field index " + std::to_string(field) + " out of range");
  pending_[static_cast<std::size_t>(field)] = std::move(value);
}

void MemTable::SetValue(std::string_view field, Variant value) { SetValue(RequireField(field), std::move(value)); }

void MemTable::Post() {
  if (!appending_) return;
  RowStore& rows = WritableRows();
  for (const Variant& value : pending_) rows.Add(value);
  rows.EndRow();
  pending_.clear();
  appending_ = false;
  const std::size_t added = rows.Rows() - 1;
  auto place = order_.end();
  if (!sortFields_.empty()) {
    AddSortKeys(added);
    place = std::upper_bound(order_.begin(), order_.end(), added,
                             [this](std::size_t a, std::size_t b) { return RowLess(a, b); });
  }
  place = order_.insert(place, added);
  cursor_ = static_cast<int>(place - order_.begin());
}

CellView MemTable::Cell(int field) const {
  if (field < 0 || field >= FieldCount())
    throw Error("Field index " + std::to_string(field) + " out of range");
  if (appending_) return CellView::Of(pending_[static_cast<std::size_t>(field)]);
  return rows_->At(CurrentRow(), field);
}

Variant MemTable::Value(int field) const { return Cell(field).ToVariant(); }

Variant MemTable::Value(std::string_view field) const { return Value(RequireField(field)); }

std::string MemTable::AsString(std::string_view field) const {
  const int index = RequireField(field);
  return FieldAsString(Value(index), defs_[static_cast<std::size_t>(index)].type);
}

std::int64_t MemTable::AsInteger(std::string_view field) const { return FieldAsInteger(Value(field)); }

double MemTable::AsFloat(std::string_view field) const { return FieldAsFloat(Value(field)); }

bool MemTable::AsBoolean(std::string_view field) const { return FieldAsBoolean(Value(field)); }

TDateTime MemTable::AsDateTime(std::string_view field) const { return FieldAsDateTime(Value(field)); }

void MemTable::SortOn(std::string_view fields, bool caseInsensitive) {
  std::vector<int> keys;
  std::size_t start = 0;
  while (start <= fields.size()) {
    const auto end = std::min(fields.find(';', start), fields.size());
    const std::string_view name = Trim(fields.substr(start, end - start));
    if (!name.empty()) keys.push_back(RequireField(name));
    start = end + 1;
  }
  if (appending_) Post();
  sortFields_ = std::move(keys);
  sortCaseInsensitive_ = caseInsensitive;
  RebuildOrder();
}

void MemTable::RebuildOrder() {
  const std::size_t count = rows_->Rows();
  sortKeys_.clear();
  sortBytes_.clear();
  order_.resize(count);
  std::iota(order_.begin(), order_.end(), std::size_t{0});
  cursor_ = 0;
  if (sortFields_.empty()) return;
  sortKeys_.reserve(count * sortFields_.size());
  for (std::size_t row = 0; row < count; ++row) AddSortKeys(row);
  std::stable_sort(order_.begin(), order_.end(), [this](std::size_t a, std::size_t b) { return RowLess(a, b); });
}

// Nulls first, then numbers and dates (by value), then texts, then bytes.
void MemTable::AddSortKeys(std::size_t row) {
  for (int field : sortFields_) {
    const CellView v = rows_->At(row, field);
    SortKey key;
    switch (v.kind) {
      case Variant::Kind::Unassigned:
      case Variant::Kind::Null: key.rank = 0; break;
      case Variant::Kind::Integer:
        key.rank = 1;
        key.isInteger = true;
        key.integer = v.integer;
        break;
      case Variant::Kind::Boolean:
        key.rank = 1;
        key.number = v.boolean ? 1.0 : 0.0;
        break;
      case Variant::Kind::Float:
      case Variant::Kind::DateTime:
        key.rank = 1;
        key.number = v.number;
        break;
      case Variant::Kind::Text:
      case Variant::Kind::Bytes: {
        key.rank = v.kind == Variant::Kind::Text ? 2 : 3;
        key.offset = sortBytes_.size();
        if (key.rank == 2) AppendTextKey(sortBytes_, v.bytes, sortCaseInsensitive_);
        else sortBytes_.append(v.bytes);
        key.size = static_cast<std::uint32_t>(sortBytes_.size() - key.offset);
        break;
      }
    }
    sortKeys_.push_back(key);
  }
}

int MemTable::CompareKeys(const SortKey& a, const SortKey& b) const {
  if (a.rank != b.rank) return a.rank < b.rank ? -1 : 1;
  switch (a.rank) {
    case 1: {
      if (a.isInteger && b.isInteger) return a.integer < b.integer ? -1 : (a.integer > b.integer ? 1 : 0);
      const double x = a.isInteger ? static_cast<double>(a.integer) : a.number;
      const double y = b.isInteger ? static_cast<double>(b.integer) : b.number;
      // NaN sorts before every other number, so the order stays strict and weak.
      if (std::isnan(x) || std::isnan(y)) return std::isnan(x) == std::isnan(y) ? 0 : (std::isnan(x) ? -1 : 1);
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    case 2:
    case 3: {
      const std::string_view bytes = sortBytes_;
      return CompareBytes(bytes.substr(a.offset, a.size), bytes.substr(b.offset, b.size));
    }
    default: return 0;
  }
}

bool MemTable::RowLess(std::size_t a, std::size_t b) const {
  const std::size_t n = sortFields_.size();
  for (std::size_t k = 0; k < n; ++k) {
    const int c = CompareKeys(sortKeys_[a * n + k], sortKeys_[b * n + k]);
    if (c != 0) return c < 0;
  }
  return false;
}

int MemTable::RequireField(std::string_view name) const {
  const int index = FieldIndex(name);
  if (index < 0) throw Error("Field '" + std::string(name) + "' not found");
  return index;
}

std::size_t MemTable::CurrentRow() const {
  if (!active_ || Eof()) throw Error("The record set has no current row");
  return order_[static_cast<std::size_t>(cursor_)];
}

}  // namespace quelvar
