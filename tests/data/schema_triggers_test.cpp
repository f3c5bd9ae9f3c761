// The shipped schema: it loads cleanly, and its triggers keep every lot's
// received and issued quantities and unit cost current from the live items.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cmath>
#include <string>

#include "data/connect_settings.h"
#include "data/shipped_schema.h"
#include "data/sqlite_handles.h"

namespace quelvar {
namespace {

class ShippedSchemaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Opened as the server opens its file (the defensive mode included).
    db_ = OpenConfigured(":memory:", JournalChoice::kWriteAheadLog, LockingChoice::kNormal, true);
    Exec(std::string(ShippedSchema()));
  }
  void Exec(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &message);
    const std::string text = message ? message : "";
    sqlite3_free(message);
    ASSERT_EQ(rc, SQLITE_OK) << text << "\n" << sql;
  }
  std::string Text(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr), SQLITE_OK) << sql;
    SqliteStatement stmt(raw);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) return "<no row>";
    const auto* text = sqlite3_column_text(stmt.get(), 0);
    return text ? reinterpret_cast<const char*>(text) : "<null>";
  }
  // "received/issued/cost" of a lot, rounded to two places.
  std::string Lot(int number) {
    return Text("Select printf('%.2f/%.2f/%.2f', T05_Entradas, T05_Saidas, T05_Custo) From T05_LOTE Where T05_NumLote = " +
                std::to_string(number));
  }

  SqliteConnection db_;
};

TEST_F(ShippedSchemaTest, LoadsSoundWithOneConfigurationRow) {
  EXPECT_EQ(Text("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(Text("Select count(*) From T03_CONF"), "1");
  EXPECT_EQ(Text("Select count(*) From sqlite_master Where type = 'table' And name Like 'T%'"), "19");
  EXPECT_EQ(Text("Select count(*) From pragma_foreign_key_list('T13_ENT2')"), "0");
}

TEST_F(ShippedSchemaTest, TriggersFollowTheLiveItems) {
  Exec("Insert Into T05_LOTE (T05_NumLote, T05_Lote, T05_NumMaterial) Values (1, 'A', 1), (2, 'B', 1)");
  EXPECT_EQ(Lot(1), "0.00/0.00/0.00");
  Exec("Insert Into T12_ENT1 (T12_NumEntrada, T12_Data) Values (1, '2024-01-15')");

  struct Step {
    const char* sql;
    const char* lot1;
    const char* lot2;
  } steps[] = {
      {"Insert Into T13_ENT2 Values (1, 1, 10, 2.00, Null), (1, 1, 30, 4.00, Null), (1, 2, 5, 1.00, Null)",
       "40.00/0.00/3.50", "5.00/0.00/1.00"},
      {"Insert Into T16_SAI1 (T16_NumSaida, T16_Data) Values (1, '2024-01-16');"
       "Insert Into T17_SAI2 Values (1, 1, 8, Null)",
       "40.00/8.00/3.50", "5.00/0.00/1.00"},
      {"Insert Into T18_PER1 (T18_NumPerda, T18_Data) Values (1, '2024-01-17');"
       "Insert Into T19_PER2 Values (1, 1, 2, Null)",
       "40.00/10.00/3.50", "5.00/0.00/1.00"},
      {"Update T17_SAI2 Set T17_Qtd = 6", "40.00/8.00/3.50", "5.00/0.00/1.00"},
      {"Update T16_SAI1 Set T16_Exclusao = '2024-01-20', T16_ExcluidoPor = 1", "40.00/2.00/3.50", "5.00/0.00/1.00"},
      {"Update T19_PER2 Set T19_NumLote = 2", "40.00/0.00/3.50", "5.00/2.00/1.00"},
      {"Delete From T13_ENT2 Where T13_Valor = 4.00", "10.00/0.00/2.00", "5.00/2.00/1.00"},
      {"Update T12_ENT1 Set T12_Exclusao = '2024-01-21'", "0.00/0.00/0.00", "0.00/2.00/0.00"},
      {"Update T12_ENT1 Set T12_Exclusao = Null", "10.00/0.00/2.00", "5.00/2.00/1.00"},
  };
  for (const Step& step : steps) {
    Exec(step.sql);
    EXPECT_EQ(Lot(1), step.lot1) << step.sql;
    EXPECT_EQ(Lot(2), step.lot2) << step.sql;
  }
}

TEST_F(ShippedSchemaTest, TriggersLeaveTheInsertedKeyToTheServer) {
  Exec("Insert Into T05_LOTE (T05_NumLote, T05_Lote) Values (7, 'L')");
  Exec("Insert Into T12_ENT1 (T12_NumEntrada) Values (41)");
  Exec("Insert Into T13_ENT2 Values (41, 7, 1, 1, Null)");
  // A header insert fires its own lot trigger; the key read back stays the header's.
  Exec("Insert Into T12_ENT1 (T12_NumEntrada) Values (42)");
  EXPECT_EQ(Text("Select last_insert_rowid()"), "42");
}

}  // namespace
}  // namespace quelvar
