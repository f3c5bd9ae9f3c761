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

int CompareText(std::string_view a, std::string_view b, bool caseInsensitive) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t x = NextCodePoint(a, i);
    char32_t y = NextCodePoint(b, j);
    if (caseInsensitive) {
      x = FoldCase(x);
      y = FoldCase(y);
    }
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

// Nulls first, then numbers and dates (by value), then texts, then bytes.
int Rank(const Variant& v) {
  switch (v.kind()) {
    case Variant::Kind::Unassigned:
    case Variant::Kind::Null: return 0;
    case Variant::Kind::Boolean:
    case Variant::Kind::Integer:
    case Variant::Kind::Float:
    case Variant::Kind::DateTime: return 1;
    case Variant::Kind::Text: return 2;
    case Variant::Kind::Bytes: return 3;
  }
  return 0;
}

int CompareNumbers(const Variant& a, const Variant& b) {
  if (a.kind() == Variant::Kind::Integer && b.kind() == Variant::Kind::Integer) {
    const auto x = a.asInt64(), y = b.asInt64();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  auto number = [](const Variant& v) {
    return v.kind() == Variant::Kind::Boolean ? (v.asBoolean() ? 1.0 : 0.0) : v.asDouble();
  };
  const double x = number(a), y = number(b);
  // NaN sorts before every other number, so the order stays strict and weak.
  if (std::isnan(x) || std::isnan(y)) return std::isnan(x) == std::isnan(y) ? 0 : (std::isnan(x) ? -1 : 1);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int CompareValues(const Variant& a, const Variant& b, bool caseInsensitive) {
  const int ra = Rank(a), rb = Rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  switch (ra) {
    case 1: return CompareNumbers(a, b);
    case 2: return CompareText(a.bytes(), b.bytes(), caseInsensitive);
    case 3: return a.bytes().compare(b.bytes()) < 0 ? -1 : (a.bytes() == b.bytes() ? 0 : 1);
    default: return 0;
  }
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
  Close();
  defs_.clear();
  sortFields_.clear();
}

void MemTable::AddFieldDef(FieldDef def) {
  Close();
  if (def.precision == 0) def.precision = DefaultPrecision(def.type);
  defs_.push_back(std::move(def));
}

int MemTable::FieldIndex(std::string_view name) const {
  for (std::size_t i = 0; i < defs_.size(); ++i)
    if (EqualsIgnoreCase(defs_[i].name, name)) return static_cast<int>(i);
  return -1;
}

void MemTable::Open() {
  if (active_) return;
  rows_.clear();
  order_.clear();
  pending_.clear();
  appending_ = false;
  cursor_ = 0;
  active_ = true;
}

void MemTable::Close() {
  rows_.clear();
  order_.clear();
  pending_.clear();
  appending_ = false;
  cursor_ = 0;
  active_ = false;
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
  rows_.push_back(std::move(pending_));
  pending_.clear();
  appending_ = false;
  const std::size_t added = rows_.size() - 1;
  auto place = order_.end();
  if (!sortFields_.empty())
    place = std::upper_bound(order_.begin(), order_.end(), added,
                             [this](std::size_t a, std::size_t b) { return RowLess(a, b); });
  place = order_.insert(place, added);
  cursor_ = static_cast<int>(place - order_.begin());
}

const Variant& MemTable::Value(int field) const {
  if (field < 0 || field >= FieldCount())
    throw Error("Field index " + std::to_string(field) + " out of range");
  return CurrentRow()[static_cast<std::size_t>(field)];
}

const Variant& MemTable::Value(std::string_view field) const { return Value(RequireField(field)); }

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
  order_.resize(rows_.size());
  std::iota(order_.begin(), order_.end(), std::size_t{0});
  if (!sortFields_.empty())
    std::stable_sort(order_.begin(), order_.end(), [this](std::size_t a, std::size_t b) { return RowLess(a, b); });
  cursor_ = 0;
}

bool MemTable::RowLess(std::size_t a, std::size_t b) const {
  for (int field : sortFields_) {
    const auto f = static_cast<std::size_t>(field);
    const int c = CompareValues(rows_[a][f], rows_[b][f], sortCaseInsensitive_);
    if (c != 0) return c < 0;
  }
  return false;
}

int MemTable::RequireField(std::string_view name) const {
  const int index = FieldIndex(name);
  if (index < 0) throw Error("Field '" + std::string(name) + "' not found");
  return index;
}

const std::vector<Variant>& MemTable::CurrentRow() const {
  if (appending_) return pending_;
  if (!active_ || Eof()) throw Error("The record set has no current row");
  return rows_[order_[static_cast<std::size_t>(cursor_)]];
}

}  // namespace quelvar
