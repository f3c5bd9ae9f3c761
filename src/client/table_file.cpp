#include "client/table_file.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>

#include "client/csv_text.h"
#include "client/typed_value.h"
#include "data/dataset_json.h"
#include "formats/errors.h"
#include "formats/json_text.h"
#include "formats/text_codec.h"

namespace quelvar::client {
namespace {

struct Column {
  std::string name;
  const TypedValueKind* kind = nullptr;  // nullptr: decided by the values (JSON)
  bool typed = false;                    // the header named the type
};

Column ReadHeader(std::string_view header) {
  Column column;
  std::string_view name = Trim(header);
  column.kind = &StringKind();
  if (const auto colon = name.find(':'); colon != std::string_view::npos) {
    column.kind = &KindNamed(Trim(name.substr(colon + 1)));
    column.typed = true;
    name = Trim(name.substr(0, colon));
  }
  if (name.empty()) throw Error("a field of the rows file has no name");
  column.name = std::string(name);
  return column;
}

int CharacterCount(std::string_view text) {
  int count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

// Defines the fields and appends the rows of already-typed values.
void Fill(MemTable& table, const std::vector<Column>& columns, const std::vector<std::vector<Variant>>& rows) {
  table.Close();
  table.ClearFieldDefs();
  for (std::size_t c = 0; c < columns.size(); ++c) {
    FieldDef def{.name = columns[c].name, .type = columns[c].kind->fieldType};
    if (def.type == TFieldType::ftWideString) {
      int size = 1;
      for (const auto& row : rows) size = std::max(size, CharacterCount(row[c].asText()));
      def.size = size;
    }
    table.AddFieldDef(def);
  }
  table.Open();
  for (const auto& row : rows) {
    table.Append();
    for (std::size_t c = 0; c < columns.size(); ++c) table.SetValue(static_cast<int>(c), row[c]);
    table.Post();
  }
  table.First();
}

void ReadCsvRows(std::string_view text, MemTable& table) {
  const std::vector<CsvRecord> records = ReadCsv(text);
  if (records.empty()) throw Error("the rows file has no header");
  std::vector<Column> columns;
  for (const std::string& header : records.front()) columns.push_back(ReadHeader(header));
  std::vector<std::vector<Variant>> rows;
  for (std::size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    if (record.size() > columns.size())
      throw Error("row " + std::to_string(r) + " of the rows file has more cells than fields");
    std::vector<Variant> row;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      row.push_back(c < record.size() ? ReadTypedValue(*columns[c].kind, record[c]) : Variant::Null());
    }
    rows.push_back(std::move(row));
  }
  Fill(table, columns, rows);
}

// The kind a JSON value asks for, or nullptr for null.
const TypedValueKind* KindOf(const json::Value& v) {
  switch (v.kind) {
    case json::Kind::Absent:
    case json::Kind::Null: return nullptr;
    case json::Kind::Boolean: return &KindNamed("bool");
    case json::Kind::Integer:
      return v.integer < std::numeric_limits<std::int32_t>::min() || v.integer > std::numeric_limits<std::int32_t>::max()
                 ? &KindNamed("largeint")
                 : &KindNamed("int");
    case json::Kind::Float: return &KindNamed("float");
    default: return &StringKind();
  }
}

// The wider of two kinds decided by values.
const TypedValueKind* Widen(const TypedValueKind* a, const TypedValueKind* b) {
  if (!a) return b;
  if (!b || a == b) return a;
  auto numeric = [](const TypedValueKind* k) {
    return k->fieldType == TFieldType::ftInteger || k->fieldType == TFieldType::ftLargeint ||
           k->fieldType == TFieldType::ftFloat;
  };
  if (numeric(a) && numeric(b)) {
    if (a->fieldType == TFieldType::ftFloat || b->fieldType == TFieldType::ftFloat) return &KindNamed("float");
    return &KindNamed("largeint");
  }
  return &StringKind();
}

Variant JsonCellValue(const Column& column, const json::Value* v) {
  if (!v || v->isNullish()) return Variant::Null();
  if (column.typed || column.kind == &StringKind()) return ReadTypedValue(*column.kind, v->asText());
  switch (column.kind->fieldType) {
    case TFieldType::ftBoolean: return Variant::Boolean(v->boolean);
    case TFieldType::ftFloat: return Variant::Float(v->kind == json::Kind::Float ? v->number
                                                                                 : static_cast<double>(v->integer));
    default: return Variant::Integer(v->integer);
  }
}

void ReadJsonRows(std::string_view text, MemTable& table) {
  const json::Wrapper root = json::Wrapper::Of(text);
  if (!root.isArray()) throw Error("a JSON rows file is an array of objects");
  std::vector<Column> columns;
  std::vector<std::string> keys;  // the keys as written, per column
  std::vector<const json::Value*> objects;
  for (std::size_t r = 0; r < root.count(); ++r) {
    const json::Value* row = root.valueAt(r);
    if (!row || row->kind != json::Kind::Object)
      throw Error("element " + std::to_string(r) + " of the rows file is not an object");
    objects.push_back(row);
    for (const json::Member& m : row->members) {
      if (std::find(keys.begin(), keys.end(), m.key) != keys.end()) continue;
      keys.push_back(m.key);
      Column column = ReadHeader(m.key);
      if (!column.typed) column.kind = nullptr;
      columns.push_back(column);
    }
  }
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].typed) continue;
    for (const json::Value* row : objects)
      for (const json::Member& m : row->members)
        if (m.key == keys[c]) columns[c].kind = Widen(columns[c].kind, KindOf(m.value));
    if (!columns[c].kind) columns[c].kind = &StringKind();
  }
  std::vector<std::vector<Variant>> rows;
  for (const json::Value* object : objects) {
    std::vector<Variant> row;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const json::Value* value = nullptr;
      for (const json::Member& m : object->members)
        if (m.key == keys[c]) value = &m.value;
      row.push_back(JsonCellValue(columns[c], value));
    }
    rows.push_back(std::move(row));
  }
  Fill(table, columns, rows);
}

}  // namespace

void ReadRowsText(std::string_view text, MemTable& table) {
  const std::string_view trimmed = Trim(text);
  if (!trimmed.empty() && trimmed.front() == '[')
    ReadJsonRows(trimmed, table);
  else
    ReadCsvRows(text, table);
}

std::string RecordSetText(MemTable& table) {
  TJSONValue holder;
  LoadFromDataset(holder, "temp", table, true);
  return holder.ToJSON();
}

std::string RecordSetFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error("cannot read the rows file '" + path + "'");
  std::ostringstream text;
  text << in.rdbuf();
  MemTable table;
  ReadRowsText(text.str(), table);
  return RecordSetText(table);
}

}  // namespace quelvar::client
