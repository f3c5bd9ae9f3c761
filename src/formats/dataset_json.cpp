#include "formats/dataset_json.h"

#include "formats/base64.h"
#include "formats/errors.h"
#include "formats/escape.h"
#include "formats/json_text.h"
#include "formats/text_codec.h"
#include "formats/wire_values.h"

namespace quelvar {

using enum TFieldType;

namespace {

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  out += text;
  out += '"';
}

void AppendFieldDefs(std::string& out, const MemTable& table) {
  bool first = true;
  for (const FieldDef& f : table.Fields()) {
    if (!first) out += ", ";
    first = false;
    const bool floating = IsFloatField(f.type);
    out += "{\"Field\":\"";
    out += f.name;
    out += "\", \"Type\":\"";
    out += FieldTypeName(f.type);
    out += "\", \"Primary\":\"";
    out += f.inKey ? "S" : "N";
    out += "\", \"Required\":\"";
    out += f.required ? "S" : "N";
    out += "\", \"Size\":";
    out += std::to_string(floating ? f.precision : f.size);
    out += ", \"Precision\":";
    out += std::to_string(floating ? f.scale : 0);
    out += ", \"ReadOnly\":\"";
    out += f.readOnly ? "S" : "N";
    out += "\", \"Autogeneration\":\"";
    out += f.autoIncrement ? "S" : "N";
    out += "\"}";
  }
}

void AppendValue(std::string& out, TFieldType type, const Variant& v, bool encoded, bool utf8SpecialChars) {
  if (v.isNullOrUnassigned()) {
    out += "null";
    return;
  }
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftLargeint: out += std::to_string(v.asInt64()); return;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
    case ftExtended:
    case ftSingle: AppendQuoted(out, FloatToWire(FormatFloat(v.asDouble()))); return;
    case ftBoolean: out += v.asBoolean() ? "true" : "false"; return;
    case ftString:
    case ftFixedChar:
    case ftWideString:
      if (encoded) AppendQuoted(out, EncodeText(v.asText()));
      else AppendQuoted(out, utf8SpecialChars ? EscapeJSONText(v.asText()) : EscapeBasic(v.asText()));
      return;
    case ftMemo:
    case ftFmtMemo:
    case ftWideMemo: AppendQuoted(out, EncodeText(v.asText())); return;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftOraBlob:
    case ftOraClob: AppendQuoted(out, EncodeBytes(v.bytes())); return;
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp: AppendQuoted(out, std::to_string(DateTimeToWire(v.asDateTime()))); return;
    default: AppendQuoted(out, v.asText()); return;
  }
}

// The UTF-8 byte-order mark, both as the three bytes and as the three
// characters they give when read one byte at a time.
std::string RemoveByteOrderMarks(std::string_view text) {
  static constexpr std::string_view kMarks[] = {"\xEF\xBB\xBF", "\xC3\xAF\xC2\xBB\xC2\xBF"};
  std::string out(text);
  for (std::string_view mark : kMarks) {
    for (auto pos = out.find(mark); pos != std::string::npos; pos = out.find(mark, pos)) out.erase(pos, mark.size());
  }
  return out;
}

bool IsBinaryField(TFieldType t) {
  return t == ftBlob || t == ftGraphic || t == ftParadoxOle || t == ftDBaseOle || t == ftTypedBinary ||
         t == ftCursor || t == ftDataSet || t == ftOraBlob || t == ftOraClob || t == ftParams || t == ftStream;
}

bool IsTextField(TFieldType t) {
  return t == ftString || t == ftMemo || t == ftFmtMemo || t == ftFixedChar || t == ftWideString || t == ftGuid ||
         t == ftWideMemo;
}

// A non-empty value text stored into a field of a non-text type; some types take nothing.
Variant ValueFromText(TFieldType type, const std::string& t) {
  const std::string_view trimmed = Trim(t);
  switch (type) {
    case ftUnknown: return Variant::Text(t);
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLongWord:
    case ftByte: return trimmed.empty() ? Variant() : Variant::Integer(ParseInt32(trimmed));
    case ftLargeint: return trimmed.empty() ? Variant() : Variant::Integer(ParseInt64(trimmed));
    case ftBoolean:
      if (trimmed.empty()) return Variant();
      if (trimmed == "0") return Variant::Boolean(false);
      if (trimmed == "1") return Variant::Boolean(true);
      return Variant::Boolean(LowerAscii(trimmed) == "true");
    case ftFloat:
    case ftCurrency:
    case ftExtended:
    case ftSingle:
    case ftBCD:
    case ftFMTBcd: {
      const std::string local = FloatFromWire(trimmed);
      return local.empty() ? Variant() : Variant::Float(ParseFloat(local));
    }
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp: {
      const std::int64_t seconds = ParseInt64(t);
      return seconds > 0 ? Variant::DateTime(DateTimeFromWire(seconds)) : Variant();
    }
    default: return Variant();
  }
}

// One row value into a field, by the field's type.
Variant ValueFromJson(const FieldDef& field, const json::Value* v, bool encoded, bool utf8SpecialChars) {
  if (!v || v->isNullish()) return Variant();
  std::string t = v->asText();
  if (t == "null") t.clear();
  if (IsBinaryField(field.type)) return t.empty() ? Variant() : Variant::Bytes(DecodeBytes(t));
  if (EqualsIgnoreCase(t, "null")) return Variant();
  if (IsTextField(field.type)) {
    if (t.empty()) return Variant::Text("");
    if ((encoded || IsMemoField(field.type)) && field.type != ftGuid) return Variant::Text(DecodeText(t));
    return Variant::Text(utf8SpecialChars ? UnescapeJSONText(t) : t);
  }
  return t.empty() ? Variant() : ValueFromText(field.type, t);
}

}  // namespace

std::string DatasetText(MemTable& table, bool encoded, bool utf8SpecialChars) {
  if (!table.Active()) table.Open();
  std::string out = "{\"fields\":[";
  AppendFieldDefs(out, table);
  out += "], \"buildside\":\"D\"}, {\"lines\":[";
  const auto& fields = table.Fields();
  int k = 0;
  for (table.First(); !table.Eof(); table.Next(), ++k) {
    out += k == 0 ? "{\"line" : ", {\"line";
    out += std::to_string(k);
    out += "\":[";
    for (int i = 0; i < table.FieldCount(); ++i) {
      if (i > 0) out += ", ";
      AppendValue(out, fields[static_cast<std::size_t>(i)].type, table.Value(i), encoded, utf8SpecialChars);
    }
    out += "]}";
  }
  out += "]}";
  table.First();
  return out;
}

void LoadFromDataset(TJSONValue& holder, std::string_view name, MemTable& table, bool encoded) {
  holder.vTypeObject = TTypeObject::toDataset;
  holder.vObjectDirection = TObjectDirection::odINOUT;
  holder.vObjectValue = TObjectValue::ovDataSet;
  holder.vEncoded = encoded;
  const std::string_view trimmed = Trim(name);
  holder.vtagName = LowerAscii(trimmed.empty() ? std::string_view("table") : name);
  holder.StoreRawBytes(ToStoredBytes(DatasetText(table, encoded, holder.vUtf8SpecialChars), holder.vEncoding));
  holder.vNullValue = holder.aValue.empty();
}

void WriteToDataset(TJSONValue& holder, std::string_view rawText, MemTable& table) {
  const std::string text = RemoveCrLf(RemoveByteOrderMarks(rawText));
  if (text.empty() || text.find('[') == std::string::npos) return;

  const json::Wrapper envelope = json::Wrapper::Of(text);
  if (envelope.count() == 0) {
    table.Close();
    throw Error("Invalid JSON Data...");
  }
  const std::string key = envelope.member(4).name;
  const json::Wrapper records = envelope.arrayUnder(key);
  const json::Wrapper header = records.element(0);
  const json::Wrapper defs = header.arrayUnder(header.member(0).name);
  holder.vTypeObject = TypeObjectFromName(envelope.member(0).value);
  holder.vObjectDirection = DirectionFromName(envelope.member(1).value);
  holder.vEncoded = UpperAscii(envelope.member(2).value) == "TRUE";
  holder.vObjectValue = ValueTypeFromName(envelope.member(3).value);
  holder.vtagName = LowerAscii(key);

  table.Close();
  table.ClearFieldDefs();
  for (std::size_t i = 0; i < defs.count(); ++i) {
    const json::Wrapper def = defs.element(i);
    const std::string name(Trim(def.member(0).value));
    if (name.empty() || table.FieldIndex(name) >= 0) continue;
    FieldDef field;
    field.name = name;
    field.type = FieldTypeFromName(def.member(1).value);
    const int n = ParseInt32(def.member(4).value);
    if (field.type == ftFloat || field.type == ftCurrency || field.type == ftBCD || field.type == ftFMTBcd ||
        field.type == ftSingle)
      field.precision = n;
    else
      field.size = n;
    table.AddFieldDef(std::move(field));
  }
  table.Open();
  if (!table.Active()) throw Error("Error on Parse JSON Data...");

  for (std::size_t i = 0; i < defs.count(); ++i) {
    const json::Wrapper def = defs.element(i);
    if (UpperAscii(Trim(def.member(2).value)) != "S") continue;
    const int index = table.FieldIndex(Trim(def.member(0).value));
    if (index < 0) continue;
    table.Field(index).inKey = true;
    if (def.count() > 7 && UpperAscii(Trim(def.member(7).value)) == "S") table.Field(index).autoIncrement = true;
  }

  // Column map: the first definition of each field's name.
  std::vector<int> columnOf(static_cast<std::size_t>(table.FieldCount()), -1);
  for (int f = 0; f < table.FieldCount(); ++f) {
    const std::string wanted = UpperAscii(table.Fields()[static_cast<std::size_t>(f)].name);
    for (std::size_t i = 0; i < defs.count(); ++i) {
      if (UpperAscii(Trim(defs.element(i).member(0).value)) == wanted) {
        columnOf[static_cast<std::size_t>(f)] = static_cast<int>(i);
        break;
      }
    }
  }

  const json::Wrapper lines = records.element(1);
  const json::Wrapper rows = lines.arrayUnder(lines.member(0).name);
  for (std::size_t r = 0; r < rows.count(); ++r) {
    const json::Wrapper row = rows.element(r);
    const json::Wrapper values = row.arrayUnder(row.member(0).name);
    table.Append();
    for (int f = 0; f < table.FieldCount(); ++f) {
      const int column = columnOf[static_cast<std::size_t>(f)];
      if (column < 0) continue;
      const FieldDef& field = table.Fields()[static_cast<std::size_t>(f)];
      table.SetValue(f, ValueFromJson(field, values.valueAt(static_cast<std::size_t>(column)), holder.vEncoded,
                                      holder.vUtf8SpecialChars));
    }
    table.Post();
  }
  table.First();
}

}  // namespace quelvar
