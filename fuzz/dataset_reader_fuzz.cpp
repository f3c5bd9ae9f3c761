// Fuzz target: a record-set text as clients send it back, read into a
// MemTable, then every row read and the table written out again.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/mem_table.h"
#include "data/dataset_json.h"
#include "formats/errors.h"
#include "formats/json_value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  quelvar::TJSONValue holder;
  quelvar::MemTable table;
  try {
    quelvar::WriteToDataset(holder, text, table);
  } catch (const quelvar::Error&) {
  }
  if (!table.Active()) return 0;
  for (table.First(); !table.Eof(); table.Next()) {
    for (int field = 0; field < table.FieldCount(); ++field) (void)table.Value(field);
  }
  try {
    (void)quelvar::DatasetText(table, true, true);
  } catch (const quelvar::Error&) {
  }
  return 0;
}
