// The configuration record over HTTP, against a database the server creates
// from its built-in schema.

#include <sqlite3.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/mem_table.h"
#include "database_file.h"
#include "event_client.h"
#include "data/dataset_json.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

constexpr std::string_view kGroup = "DWServerEventsT03_CONF";
const std::string kSaveFailure = "Ocorreu um erro na gravação no banco de dados.\r";

// The record set a client sends: the nine settings it owns, one row per entry.
struct Settings {
  std::string rodape;
  std::string margem;  // sent as text so that bad input can be sent too
  bool parcial;
  int casasV;
};

std::string SettingsTable(const std::vector<Settings>& rows, bool withFoto = true) {
  MemTable t;
  t.AddFieldDef({.name = "T03_Rodape", .type = TFieldType::ftWideMemo});
  t.AddFieldDef({.name = "T03_MargemSup", .type = TFieldType::ftWideString, .size = 10});
  t.AddFieldDef({.name = "T03_RelTelaParcial", .type = TFieldType::ftBoolean});
  t.AddFieldDef({.name = "T03_PastaBackup", .type = TFieldType::ftWideMemo});
  if (withFoto) t.AddFieldDef({.name = "T03_ArqFoto", .type = TFieldType::ftWideMemo});
  t.AddFieldDef({.name = "T03_CasasDecV", .type = TFieldType::ftInteger});
  t.AddFieldDef({.name = "T03_CasasDecQ", .type = TFieldType::ftInteger});
  t.AddFieldDef({.name = "T03_CriarAtalho", .type = TFieldType::ftBoolean});
  t.AddFieldDef({.name = "T03_AvisoEstqMin", .type = TFieldType::ftBoolean});
  t.Open();
  for (const Settings& s : rows) {
    t.Append();
    t.SetValue("T03_Rodape", Variant::Text(s.rodape));
    t.SetValue("T03_MargemSup", Variant::Text(s.margem));
    t.SetValue("T03_RelTelaParcial", Variant::Boolean(s.parcial));
    t.SetValue("T03_PastaBackup", Variant::Text("C:\\Backups"));
    if (withFoto) t.SetValue("T03_ArqFoto", Variant::Text("logo.png"));
    t.SetValue("T03_CasasDecV", Variant::Integer(s.casasV));
    t.SetValue("T03_CasasDecQ", Variant::Integer(3));
    t.SetValue("T03_CriarAtalho", Variant::Boolean(false));
    t.SetValue("T03_AvisoEstqMin", Variant::Boolean(true));
    t.Post();
  }
  TJSONValue holder;
  LoadFromDataset(holder, "temp", t, true);
  return holder.ToJSON();
}

class ConfigRecord : public ::testing::Test {
 protected:
  ConfigRecord() : server_(ServerProcess::FreshDatabase()) {}
  void SetUp() override {
    server_.StartWithFreshDatabase();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.Stderr();
  }

  MemTable Read() {
    const EventReply reply = CallEvent(server_.port(), kGroup, "Consulta", {{"Tabela", OutParam("Tabela")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    MemTable t;
    TJSONValue holder;
    WriteToDataset(holder, reply.Text("Tabela"), t);
    return t;
  }
  std::string Save(const std::string& table) {
    const EventReply reply = CallEvent(server_.port(), kGroup, "Grava",
                                       {{"Tabela", StringParam("Tabela", table)}, {"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }

  ServerProcess server_;
};

TEST_F(ConfigRecord, CreatedDatabaseIsSoundAndHoldsOneRecord) {
  EXPECT_EQ(SqlText(server_.databasePath(), "PRAGMA integrity_check"), "ok");
  MemTable t = Read();
  ASSERT_EQ(t.RecordCount(), 1);
  EXPECT_GE(t.FieldIndex("T03_UltimoBackup"), 0);
  EXPECT_TRUE(t.IsNull("T03_UltimoBackup"));
  EXPECT_EQ(t.Fields()[static_cast<std::size_t>(t.FieldIndex("T03_MargemSup"))].type, TFieldType::ftInteger);
  EXPECT_EQ(t.Fields()[static_cast<std::size_t>(t.FieldIndex("T03_Rodape"))].type, TFieldType::ftWideMemo);
}

TEST_F(ConfigRecord, SaveWritesTheFirstRowOnlyAndAnswersOk) {
  EXPECT_EQ(Save(SettingsTable({{"Rodapé da Loja", "15", true, 4}, {"segunda", "99", false, 9}})), "OK");
  MemTable t = Read();
  ASSERT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.AsString("T03_Rodape"), "Rodapé da Loja");
  EXPECT_EQ(t.AsInteger("T03_MargemSup"), 15);
  EXPECT_TRUE(t.AsBoolean("T03_RelTelaParcial"));
  EXPECT_EQ(t.AsString("T03_PastaBackup"), "C:\\Backups");
  EXPECT_EQ(t.AsInteger("T03_CasasDecV"), 4);
  EXPECT_EQ(t.AsInteger("T03_CasasDecQ"), 3);
  EXPECT_FALSE(t.AsBoolean("T03_CriarAtalho"));
  EXPECT_TRUE(t.IsNull("T03_UltimoBackup"));  // not a client's to write
  EXPECT_EQ(SqlText(server_.databasePath(), "Select typeof(T03_RelTelaParcial) || T03_RelTelaParcial From T03_CONF"),
            "integer1");
}

TEST_F(ConfigRecord, FailedSavesAnswerTheFailureTextAndWriteNothing) {
  ASSERT_EQ(Save(SettingsTable({{"antes", "1", false, 2}})), "OK");
  struct Case {
    std::string table;
    std::string messageStart;
  } cases[] = {
      {SettingsTable({{"depois", "1", false, 2}}, false), kSaveFailure},    // a field is missing
      {SettingsTable({{"depois", "abc", false, 2}}), kSaveFailure + "'abc' is not a valid integer value"},
      {"{\"ObjectType\":\"toDataset\", [", kSaveFailure},                    // not JSON
      {"[]", kSaveFailure + "Invalid JSON Data..."},
  };
  for (const Case& c : cases) {
    const std::string answer = Save(c.table);
    EXPECT_EQ(answer.rfind(c.messageStart, 0), 0u) << answer;
    EXPECT_GT(answer.size(), kSaveFailure.size()) << answer;
  }
  EXPECT_NE(Save(SettingsTable({{"depois", "1", false, 2}}, false)).find("T03_ArqFoto"), std::string::npos);
  EXPECT_EQ(Read().AsString("T03_Rodape"), "antes");
  EXPECT_NE(server_.OperatorLog().find("GravaConfig --> \r"), std::string::npos) << server_.Stderr();
}

}  // namespace
}  // namespace quelvar::test
