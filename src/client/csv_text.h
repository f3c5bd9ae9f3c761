#pragma once
// Comma-separated text both ways: reading a rows file into records of cells,
// and writing cells with the usual quoting (a cell holding a comma, a double
// quote, a carriage return or a line feed, or beginning or ending with a
// blank, is enclosed in double quotes with its double quotes doubled).

#include <string>
#include <string_view>
#include <vector>

namespace quelvar::client {

using CsvRecord = std::vector<std::string>;

// Splits `text` into records. Quoted cells may hold commas, doubled quotes and
// line breaks; records end at LF or CR LF; a final line break adds no record;
// blank lines are skipped. A quote left open raises Error.
std::vector<CsvRecord> ReadCsv(std::string_view text);

// One cell as written in a record.
std::string CsvCell(std::string_view value);

// One record: cells joined by commas, ended by CR LF.
std::string CsvLine(const CsvRecord& cells);

}  // namespace quelvar::client
