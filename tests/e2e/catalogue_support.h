#pragma once
// Helpers of the material and lot suites: typed parameter texts and the
// record sets the events answer (database-file access in database_file.h).

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "data/mem_table.h"
#include "database_file.h"
#include "event_client.h"
#include "data/dataset_json.h"
#include "formats/params.h"

namespace quelvar::test {

inline const std::string kSaveFailure = "Ocorreu um erro na gravação no banco de dados.\r";


inline std::string BooleanParam(std::string_view name, bool value) {
  TJSONParam p(TEncodeSelect::esASCII);
  p.SetParamName(name);
  p.SetDirection(TObjectDirection::odIN);
  p.SetEncoded(true);
  p.SetAsBoolean(value);
  return p.ToJSON();
}

inline std::string IntegerParam(std::string_view name, std::int32_t value) {
  TJSONParam p(TEncodeSelect::esASCII);
  p.SetParamName(name);
  p.SetDirection(TObjectDirection::odIN);
  p.SetEncoded(true);
  p.SetAsInteger(value);
  return p.ToJSON();
}

// The record set carried by the "Tabela" output of a reply.
inline MemTable TableOf(const EventReply& reply) {
  EXPECT_EQ(reply.status, 200) << reply.body;
  MemTable t;
  const std::string text = reply.Text("Tabela");
  if (text.empty()) return t;
  TJSONValue holder;
  WriteToDataset(holder, text, t);
  return t;
}

// The dataset JSON of a record set, as a client sends it.
inline std::string DatasetText(MemTable& table) {
  TJSONValue holder;
  LoadFromDataset(holder, "temp", table, true);
  return holder.ToJSON();
}

// One column of every row, in the record set's order, joined by "|".
inline std::string Column(MemTable& t, std::string_view field) {
  std::string out;
  for (t.First(); !t.Eof(); t.Next()) out += (out.empty() ? "" : "|") + t.AsString(field);
  return out;
}

}  // namespace quelvar::test
