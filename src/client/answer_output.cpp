#include "client/answer_output.h"

#include "client/csv_text.h"
#include "client/text_table.h"
#include "formats/errors.h"
#include "formats/field_types.h"
#include "formats/json_string.h"
#include "formats/wire_values.h"

namespace quelvar::client {
namespace {

bool IsNumericField(TFieldType t) {
  switch (t) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftAutoInc:
    case TFieldType::ftLargeint:
    case TFieldType::ftLongWord:
    case TFieldType::ftShortint:
    case TFieldType::ftByte:
      return true;
    default:
      return IsFloatField(t);
  }
}

// A value in the server's display form.
std::string DisplayText(const FieldDef& field, const Variant& value) {
  if (value.isNullOrUnassigned()) return "";
  if (IsBlobField(field.type) && !IsMemoField(field.type))
    return "<" + std::to_string(value.bytes().size()) + " bytes>";
  return value.asText();
}

// Line breaks shown as blanks so that a row stays on one line.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

}  // namespace

std::string Lines(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += '\n';
    } else {
      out += text[i];
    }
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

namespace {

std::string JsonValue(const FieldDef& field, const Variant& value) {
  if (value.isNullOrUnassigned()) return "null";
  switch (value.kind()) {
    case Variant::Kind::Boolean: return value.asBoolean() ? "true" : "false";
    case Variant::Kind::Integer: return value.asText();
    case Variant::Kind::Float: {
      std::string text = FormatFloat(value.asDouble());
      for (char& c : text)
        if (c == kDecimalSeparator) c = '.';
      if (text.find_first_not_of("+-0123456789.E") != std::string::npos) return JsonString(text);  // NAN, INF
      return text;
    }
    default: return JsonString(DisplayText(field, value));
  }
}

void RenderTable(MemTable& table, std::string& out) {
  TextTable text;
  for (const FieldDef& f : table.Fields()) {
    text.headers.push_back(f.name);
    text.alignRight.push_back(IsNumericField(f.type));
  }
  for (table.First(); !table.Eof(); table.Next()) {
    std::vector<std::string> row;
    for (int c = 0; c < table.FieldCount(); ++c)
      row.push_back(OneLine(DisplayText(table.Fields()[static_cast<std::size_t>(c)], table.Value(c))));
    text.rows.push_back(std::move(row));
  }
  table.First();
  out += RenderTextTable(text);
  const int n = table.RecordCount();
  out += "(" + std::to_string(n) + (n == 1 ? " row)\n" : " rows)\n");
}

void RenderCsv(MemTable& table, std::string& out) {
  CsvRecord header;
  for (const FieldDef& f : table.Fields()) header.push_back(f.name);
  out += CsvLine(header);
  for (table.First(); !table.Eof(); table.Next()) {
    CsvRecord row;
    for (int c = 0; c < table.FieldCount(); ++c)
      row.push_back(DisplayText(table.Fields()[static_cast<std::size_t>(c)], table.Value(c)));
    out += CsvLine(row);
  }
  table.First();
}

void RenderJsonRows(MemTable& table, std::string& out) {
  out += "[";
  bool firstRow = true;
  for (table.First(); !table.Eof(); table.Next()) {
    out += firstRow ? "\n    {" : ",\n    {";
    firstRow = false;
    for (int c = 0; c < table.FieldCount(); ++c) {
      const FieldDef& f = table.Fields()[static_cast<std::size_t>(c)];
      if (c) out += ", ";
      out += JsonString(f.name) + ": " + JsonValue(f, table.Value(c));
    }
    out += "}";
  }
  table.First();
  out += firstRow ? "]" : "\n  ]";
}

}  // namespace

OutputFormat OutputFormatNamed(std::string_view name) {
  if (name == "table") return OutputFormat::Table;
  if (name == "csv") return OutputFormat::Csv;
  if (name == "json") return OutputFormat::Json;
  throw Error("unknown format '" + std::string(name) + "' (table, csv, json)");
}

std::string FormatAnswer(EventAnswer& answer, OutputFormat format) {
  std::string out;
  if (answer.outputs.empty()) {
    if (format == OutputFormat::Json) return "{\"result\": " + JsonString(answer.result) + "}\n";
    const std::string text = Lines(answer.result);
    return text.empty() ? "" : text + "\n";
  }
  switch (format) {
    case OutputFormat::Table: {
      bool first = true;
      for (OutputValue& o : answer.outputs) {
        if (!first && o.isTable) out += "\n";
        if (o.isTable) {
          out += o.name + ":\n";
          RenderTable(o.table, out);
        } else {
          const std::string text = Lines(o.text);
          out += o.name + ":" + (text.empty() ? "" : " " + text) + "\n";
        }
        first = false;
      }
      break;
    }
    case OutputFormat::Csv: {
      bool anyPlain = false;
      for (const OutputValue& o : answer.outputs) anyPlain = anyPlain || !o.isTable;
      bool first = true;
      if (anyPlain) {
        out += CsvLine({"name", "value"});
        for (const OutputValue& o : answer.outputs)
          if (!o.isTable) out += CsvLine({o.name, o.text});
        first = false;
      }
      for (OutputValue& o : answer.outputs) {
        if (!o.isTable) continue;
        if (!first) out += "\r\n";
        RenderCsv(o.table, out);
        first = false;
      }
      break;
    }
    case OutputFormat::Json: {
      out += "{";
      bool first = true;
      for (OutputValue& o : answer.outputs) {
        out += first ? "\n  " : ",\n  ";
        first = false;
        out += JsonString(o.name) + ": ";
        if (o.isTable)
          RenderJsonRows(o.table, out);
        else
          out += JsonString(o.text);
      }
      out += "\n}\n";
      break;
    }
  }
  return out;
}

}  // namespace quelvar::client
