#include "data/dataset_json.h"

#include <charconv>
#include <functional>

#include "formats/base64.h"
#include "formats/errors.h"
#include "formats/escape.h"
#include "formats/json_text.h"
#include "formats/text_codec.h"
#include "formats/wire_values.h"

namespace quelvar {

using enum TFieldType;

namespace {

bool IsAsciiText(std::string_view text) {
  unsigned char any = 0;
  for (char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

// The record-set text as it is written: in pieces that a sink takes as they
// come. Texts that may hold characters beyond ASCII (field names, values
// written as they are) go in as the holder stores them (ToStoredBytes of the
// holder's encoding) when `storedAs` is set; everything else is ASCII already.
class DatasetWriter {
 public:
  DatasetWriter(std::string& out, bool encoded, bool utf8SpecialChars, const TEncodeSelect* storedAs)
      : out_(out), encoded_(encoded), utf8SpecialChars_(utf8SpecialChars), storedAs_(storedAs) {}

  void Write(MemTable& table, const std::function<void()>& flush);

 private:
  void Raw(std::string_view text) {
    if (storedAs_ && !IsAsciiText(text)) out_ += ToStoredBytes(text, *storedAs_);
    else out_ += text;
  }
  void QuotedRaw(std::string_view text) {
    out_ += '"';
    Raw(text);
    out_ += '"';
  }
  void QuotedBase64(std::string_view bytes) {
    out_ += '"';
    AppendBase64(out_, bytes);
    out_ += '"';
  }
  void Integer(std::int64_t value) {
    char buf[24];
    out_.append(buf, static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, value).ptr - buf));
  }
  void FieldDefs(const MemTable& table);
  void Value(TFieldType type, const CellView& v);

  std::string& out_;
  bool encoded_;
  bool utf8SpecialChars_;
  const TEncodeSelect* storedAs_;
};

void DatasetWriter::FieldDefs(const MemTable& table) {
  bool first = true;
  for (const FieldDef& f : table.Fields()) {
    if (!first) out_ += ", ";
    first = false;
    const bool floating = IsFloatField(f.type);
    out_ += "{\"Field\":\"";
    Raw(f.name);
    out_ += "\", \"Type\":\"";
    out_ += FieldTypeName(f.type);
    out_ += "\", \"Primary\":\"";
    out_ += f.inKey ? "S" : "N";
    out_ += "\", \"Required\":\"";
    out_ += f.required ? "S" : "N";
    out_ += "\", \"Size\":";
    Integer(floating ? f.precision : f.size);
    out_ += ", \"Precision\":";
    Integer(floating ? f.scale : 0);
    out_ += ", \"ReadOnly\":\"";
    out_ += f.readOnly ? "S" : "N";
    out_ += "\", \"Autogeneration\":\"";
    out_ += f.autoIncrement ? "S" : "N";
    out_ += "\"}";
  }
}

// One value by its field's type. Values of the kind the field normally holds
// are written from the cell; any other kind goes through the Variant
// conversions, with their errors.
void DatasetWriter::Value(TFieldType type, const CellView& v) {
  using Kind = Variant::Kind;
  if (v.IsNull()) {
    out_ += "null";
    return;
  }
  auto number = [&v] {
    if (v.kind == Kind::Float || v.kind == Kind::DateTime) return v.number;
    if (v.kind == Kind::Integer) return static_cast<double>(v.integer);
    return v.ToVariant().asDouble();
  };
  auto text = [&v](std::string& spare) -> std::string_view {
    if (v.kind == Kind::Text || v.kind == Kind::Bytes) return v.bytes;
    spare = v.ToVariant().asText();
    return spare;
  };
  std::string spare;
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftLargeint: Integer(v.kind == Kind::Integer ? v.integer : v.ToVariant().asInt64()); return;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
    case ftExtended:
    case ftSingle:
      out_ += '"';
      AppendFloatWire(out_, number());
      out_ += '"';
      return;
    case ftBoolean: out_ += (v.kind == Kind::Boolean ? v.boolean : v.ToVariant().asBoolean()) ? "true" : "false"; return;
    case ftString:
    case ftFixedChar:
    case ftWideString:
      if (encoded_) QuotedBase64(text(spare));
      else QuotedRaw(utf8SpecialChars_ ? EscapeJSONText(text(spare)) : EscapeBasic(text(spare)));
      return;
    case ftMemo:
    case ftFmtMemo:
    case ftWideMemo: QuotedBase64(text(spare)); return;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftOraBlob:
    case ftOraClob: QuotedBase64(v.bytes); return;
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp:
      out_ += '"';
      Integer(DateTimeToWire(number()));
      out_ += '"';
      return;
    default: QuotedRaw(text(spare)); return;
  }
}

void DatasetWriter::Write(MemTable& table, const std::function<void()>& flush) {
  constexpr std::size_t kChunk = 48 * 1024;
  if (!table.Active()) table.Open();
  out_ += "{\"fields\":[";
  FieldDefs(table);
  out_ += "], \"buildside\":\"D\"}, {\"lines\":[";
  const auto& fields = table.Fields();
  const int count = table.FieldCount();
  std::int64_t k = 0;
  for (table.First(); !table.Eof(); table.Next(), ++k) {
    out_ += k == 0 ? "{\"line" : ", {\"line";
    Integer(k);
    out_ += "\":[";
    for (int i = 0; i < count; ++i) {
      if (i > 0) out_ += ", ";
      Value(fields[static_cast<std::size_t>(i)].type, table.Cell(i));
    }
    out_ += "]}";
    if (out_.size() >= kChunk) flush();
  }
  out_ += "]}";
  table.First();
  flush();
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
  std::string out;
  DatasetWriter(out, encoded, utf8SpecialChars, nullptr).Write(table, [] {});
  return out;
}

void LoadFromDataset(TJSONValue& holder, std::string_view name, MemTable& table, bool encoded) {
  holder.vTypeObject = TTypeObject::toDataset;
  holder.vObjectDirection = TObjectDirection::odINOUT;
  holder.vObjectValue = TObjectValue::ovDataSet;
  holder.vEncoded = encoded;
  const std::string_view trimmed = Trim(name);
  holder.vtagName = LowerAscii(trimmed.empty() ? std::string_view("table") : name);
  std::string stored;
  DatasetWriter(stored, encoded, holder.vUtf8SpecialChars, &holder.vEncoding).Write(table, [] {});
  holder.StoreRawBytes(std::move(stored));
  holder.vNullValue = holder.aValue.empty();
}

EncodedText DatasetHolderText(MemTable& table, std::string_view name, bool encoded, TEncodeSelect encoding) {
  const std::string_view trimmed = Trim(name);
  std::string text = "{\"ObjectType\":\"toDataset\", \"Direction\":\"odINOUT\", \"Encoded\":\"";
  text += encoded ? "true" : "false";
  text += "\", \"ValueType\":\"ovDataSet\", \"";
  text += LowerAscii(trimmed.empty() ? std::string_view("table") : name);
  text += "\":[";
  EncodedText out;
  std::size_t rowsWritten = 0, bytesWritten = 0;
  bool reserved = false;
  // Pieces go to the Base64 text as they fill up; once a few rows are known
  // the final size is estimated, so that the text seldom has to grow.
  auto flush = [&] {
    bytesWritten += text.size();
    if (!reserved && table.RecNo() > 64) {
      rowsWritten = static_cast<std::size_t>(table.RecNo());
      out.Reserve(bytesWritten / rowsWritten * static_cast<std::size_t>(table.RecordCount()) * 21 / 20 + 256);
      reserved = true;
    }
    out.Write(text);
    text.clear();
  };
  DatasetWriter(text, encoded, true, &encoding).Write(table, flush);
  text += "]}";
  out.Write(text);
  out.Finish();
  return out;
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
