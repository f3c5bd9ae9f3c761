#pragma once
// Helpers of the material and lot suites: direct access to the server's
// database file (rows the events never write, such as documents and lot
// figures), typed parameter texts, and the record sets the events answer.

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "data/mem_table.h"
#include "event_client.h"
#include "formats/dataset_json.h"
#include "formats/params.h"

namespace quelvar::test {

inline const std::string kSaveFailure = "Ocorreu um erro na gravação no banco de dados.\r";

// Runs `sql` (one or more statements) on the database file while the server runs.
inline void ExecSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_busy_timeout(db, 10000);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error(message + " in " + sql);
}

// The first column of the first row as text ("<null>", or "<none>" without a row).
inline std::string SqlText(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_busy_timeout(db, 10000);
  sqlite3_stmt* stmt = nullptr;
  std::string out = "<error>";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
    if (sqlite3_step(stmt) == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(stmt, 0);
      out = text ? reinterpret_cast<const char*>(text) : "<null>";
    } else {
      out = "<none>";
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

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
