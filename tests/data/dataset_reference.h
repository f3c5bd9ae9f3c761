#pragma once
// The result-set writer as it was first built: every value read as a Variant,
// the whole record-set text made in one string and then converted to the
// holder's stored bytes, the holder text made from that, and the parameter
// value encoded from the holder text. The streaming writer must give the same
// bytes; the tests compare the two on awkward rows.

#include <string>

#include "data/mem_table.h"
#include "formats/base64.h"
#include "formats/escape.h"
#include "formats/field_types.h"
#include "formats/text_codec.h"
#include "formats/wire_values.h"

namespace quelvar::reference {

inline void AppendValue(std::string& out, TFieldType type, const Variant& v, bool encoded, bool utf8SpecialChars) {
  using enum TFieldType;
  auto quoted = [&out](const std::string& text) { out += '"' + text + '"'; };
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
    case ftSingle: quoted(FloatToWire(FormatFloat(v.asDouble()))); return;
    case ftBoolean: out += v.asBoolean() ? "true" : "false"; return;
    case ftString:
    case ftFixedChar:
    case ftWideString:
      if (encoded) quoted(EncodeText(v.asText()));
      else quoted(utf8SpecialChars ? EscapeJSONText(v.asText()) : EscapeBasic(v.asText()));
      return;
    case ftMemo:
    case ftFmtMemo:
    case ftWideMemo: quoted(EncodeText(v.asText())); return;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftOraBlob:
    case ftOraClob: quoted(EncodeBytes(v.bytes())); return;
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp: quoted(std::to_string(DateTimeToWire(v.asDateTime()))); return;
    default: quoted(v.asText()); return;
  }
}

inline std::string DatasetText(MemTable& table, bool encoded, bool utf8SpecialChars) {
  if (!table.Active()) table.Open();
  std::string out = "{\"fields\":[";
  bool first = true;
  for (const FieldDef& f : table.Fields()) {
    if (!first) out += ", ";
    first = false;
    const bool floating = IsFloatField(f.type);
    out += "{\"Field\":\"" + f.name + "\", \"Type\":\"" + std::string(FieldTypeName(f.type)) +
           "\", \"Primary\":\"" + (f.inKey ? "S" : "N") + "\", \"Required\":\"" + (f.required ? "S" : "N") +
           "\", \"Size\":" + std::to_string(floating ? f.precision : f.size) +
           ", \"Precision\":" + std::to_string(floating ? f.scale : 0) + ", \"ReadOnly\":\"" +
           (f.readOnly ? "S" : "N") + "\", \"Autogeneration\":\"" + (f.autoIncrement ? "S" : "N") + "\"}";
  }
  out += "], \"buildside\":\"D\"}, {\"lines\":[";
  int k = 0;
  for (table.First(); !table.Eof(); table.Next(), ++k) {
    out += (k == 0 ? "{\"line" : ", {\"line") + std::to_string(k) + "\":[";
    for (int i = 0; i < table.FieldCount(); ++i) {
      if (i > 0) out += ", ";
      AppendValue(out, table.Fields()[static_cast<std::size_t>(i)].type, table.Value(i), encoded, utf8SpecialChars);
    }
    out += "]}";
  }
  out += "]}";
  table.First();
  return out;
}

// The holder text of a record set ("temp", encoded), as the query dispatch makes it.
inline std::string HolderText(MemTable& table, TEncodeSelect encoding) {
  const std::string stored = ToStoredBytes(reference::DatasetText(table, true, true), encoding);
  return "{\"ObjectType\":\"toDataset\", \"Direction\":\"odINOUT\", \"Encoded\":\"true\", \"ValueType\":\"ovDataSet\", "
         "\"temp\":[" + FromStoredBytes(stored, encoding) + "]}";
}

}  // namespace quelvar::reference
