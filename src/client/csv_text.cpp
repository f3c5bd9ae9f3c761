#include "client/csv_text.h"

#include "formats/errors.h"

namespace quelvar::client {

std::vector<CsvRecord> ReadCsv(std::string_view text) {
  std::vector<CsvRecord> records;
  CsvRecord record;
  std::string cell;
  bool quoted = false;       // inside a quoted cell
  bool cellStarted = false;  // the record has at least one cell or character
  auto endCell = [&] {
    record.push_back(std::move(cell));
    cell.clear();
  };
  auto endRecord = [&] {
    if (cellStarted || !cell.empty() || !record.empty()) {
      endCell();
      records.push_back(std::move(record));
    }
    record.clear();
    cellStarted = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        cell += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else {
        quoted = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        quoted = true;
        cellStarted = true;
        break;
      case ',':
        endCell();
        cellStarted = true;
        break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') break;
        cell += c;
        break;
      case '\n':
        endRecord();
        break;
      default:
        cell += c;
        cellStarted = true;
    }
  }
  if (quoted) throw Error("CSV: a quoted cell is not closed");
  endRecord();
  return records;
}

std::string CsvCell(std::string_view value) {
  const bool needsQuotes = value.find_first_of(",\"\r\n") != std::string_view::npos ||
                           (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!needsQuotes) return std::string(value);
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string CsvLine(const CsvRecord& cells) {
  std::string out;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i) out += ',';
    out += CsvCell(cells[i]);
  }
  out += "\r\n";
  return out;
}

}  // namespace quelvar::client
