// Lots over HTTP, against a database the server creates from its built-in
// schema. Lots come into being through entries, so the suites put them (and
// the documents that use them) straight into the database file.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue_support.h"
#include "formats/wire_values.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

constexpr std::string_view kGroup = "DWServerEventsT05_LOTE";
const std::string kNameTaken = "Um lote com esta descrição já foi cadastrado anteriormente para este material.";

struct Lot {
  std::int64_t num = 0;
  std::int64_t material = 1;
  std::string name = "";
  bool deactivated = false;
  std::optional<TDateTime> expiry = std::nullopt;
  std::string place = "Prateleira 3";
  std::string obs1 = "obs um";
  std::string obs2 = "obs dois";
};

std::string LotTable(const Lot& lot, std::string_view badExpiry = "") {
  MemTable t;
  t.AddFieldDef({.name = "T05_NumLote", .type = TFieldType::ftInteger});
  t.AddFieldDef({.name = "T05_Lote", .type = TFieldType::ftWideString, .size = 40});
  t.AddFieldDef({.name = "T05_NumMaterial", .type = TFieldType::ftInteger});
  t.AddFieldDef({.name = "T05_Desativado", .type = TFieldType::ftBoolean});
  t.AddFieldDef({.name = "T05_Validade", .type = badExpiry.empty() ? TFieldType::ftDate : TFieldType::ftWideString,
                 .size = badExpiry.empty() ? 0 : 20});
  t.AddFieldDef({.name = "T05_Local", .type = TFieldType::ftWideString, .size = 40});
  t.AddFieldDef({.name = "T05_Obs1", .type = TFieldType::ftWideString, .size = 40});
  t.AddFieldDef({.name = "T05_Obs2", .type = TFieldType::ftWideString, .size = 40});
  t.Open();
  t.Append();
  t.SetValue("T05_NumLote", Variant::Integer(lot.num));
  t.SetValue("T05_Lote", Variant::Text(lot.name));
  t.SetValue("T05_NumMaterial", Variant::Integer(lot.material));
  t.SetValue("T05_Desativado", Variant::Boolean(lot.deactivated));
  if (!badExpiry.empty())
    t.SetValue("T05_Validade", Variant::Text(std::string(badExpiry)));
  else if (lot.expiry)
    t.SetValue("T05_Validade", Variant::DateTime(*lot.expiry));
  t.SetValue("T05_Local", Variant::Text(lot.place));
  t.SetValue("T05_Obs1", Variant::Text(lot.obs1));
  t.SetValue("T05_Obs2", Variant::Text(lot.obs2));
  t.Post();
  return DatasetText(t);
}

class Lots : public ::testing::Test {
 protected:
  Lots() : server_(ServerProcess::FreshDatabase()) {}
  void SetUp() override {
    server_.StartWithFreshDatabase();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.OperatorLog();
    // Material 2 is deleted; 7 is an ordinary one.
    Exec("Insert into T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_UsaLote, T04_Exclusao) Values "
         "(1, 1, 'Tinta branca', 1, Null), (2, 1, 'antigo', 1, '2024-01-01'), (7, 1, 'Cal', 1, Null)");
    Exec("Insert into T05_LOTE (T05_NumLote, T05_Lote, T05_NumMaterial, T05_Validade, T05_Local, T05_Custo, "
         "T05_Entradas, T05_Saidas, T05_Desativado, T05_Exclusao) Values "
         "(1, 'A1-x', 1, '2025-06-30', 'P1', 2.5, 10, 4, 0, Null),"
         "(2, 'a10',  7, Null,         'P2', 1.0, 5, 5, 0, Null),"
         "(3, 'B2',   7, Null,         'P3', 3.0, 8, 9, 0, Null),"
         "(4, 'A1z',  1, Null,         'P4', 4.0, 6, 1, 1, Null),"
         "(5, 'A1del', 1, Null,        'P5', 5.0, 6, 0, 0, '2024-02-02'),"
         "(6, 'A1m',  2, Null,         'P6', 6.0, 3, 1, 0, Null),"
         "(7, 'C3',   7, Null,         'P7', 7.0, 2, 0, 0, Null)");
    // A new lot starts from the items that name it, so the figures are set afterwards.
    Exec("Update T05_LOTE Set (T05_Custo, T05_Entradas, T05_Saidas) = (Select column2, column3, column4 From (Values "
         "(1, 2.5, 10, 4), (2, 1.0, 5, 5), (3, 3.0, 8, 9), (4, 4.0, 6, 1), (5, 5.0, 6, 0), (6, 6.0, 3, 1), "
         "(7, 7.0, 2, 0)) Where column1 = T05_NumLote)");
  }

  void Exec(const std::string& sql) { ExecSql(server_.databasePath(), sql); }
  std::string Sql(const std::string& sql) { return SqlText(server_.databasePath(), sql); }

  MemTable List(std::string_view event, const std::string& filter, bool deactivated = false) {
    return TableOf(CallEvent(server_.port(), kGroup, event,
                             {{"Filtro", StringParam("Filtro", filter)},
                              {"Tabela", OutParam("Tabela")},
                              {"Desativados", BooleanParam("Desativados", deactivated)}}));
  }
  MemTable ListPositive(const std::string& filter, const std::string& deactivated) {
    return TableOf(CallEvent(server_.port(), kGroup, "ConsultaLookLote2",
                             {{"Filtro", StringParam("Filtro", filter)},
                              {"Tabela", OutParam("Tabela")},
                              {"Desativados", StringParam("Desativados", deactivated)}}));
  }
  MemTable LotOfMaterial(const std::string& lot, const std::string& material) {
    return TableOf(CallEvent(server_.port(), kGroup, "ConsultaLoteMaterial",
                             {{"Lote", StringParam("Lote", lot)},
                              {"NumMaterial", StringParam("NumMaterial", material)},
                              {"Tabela", OutParam("Tabela")}}));
  }
  MemTable FirstReceipt(const std::string& lot) {
    return TableOf(CallEvent(server_.port(), kGroup, "ConsultaPrimeiroLote",
                             {{"NumLote", StringParam("NumLote", lot)}, {"Tabela", OutParam("Tabela")}}));
  }
  std::string Save(const std::string& table) {
    const EventReply reply = CallEvent(server_.port(), kGroup, "Grava",
                                       {{"Tabela", StringParam("Tabela", table)}, {"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }
  std::string Delete(int lot, int user) {
    const EventReply reply = CallEvent(server_.port(), kGroup, "Exclui",
                                       {{"NumLote", IntegerParam("NumLote", lot)},
                                        {"NumUsuario", IntegerParam("NumUsuario", user)},
                                        {"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }
  // Name, material description and balance of every lot of a list.
  static std::string Rows(MemTable t) {
    std::string out;
    for (t.First(); !t.Eof(); t.Next())
      out += (out.empty() ? "" : "|") + t.AsString("T05_Lote") + "/" + t.AsString("T04_Material") + "/" +
             t.AsString("T05_Saldo");
    return out;
  }

  ServerProcess server_;
};

TEST_F(Lots, ListSearchesNamesAndOrdersThemIgnoringCase) {
  struct Case {
    std::string filter;
    bool deactivated;
    std::string rows;
  } cases[] = {
      {"", false, "A1-x/Tinta branca/6|a10/Cal/0|A1m/antigo/2|B2/Cal/-1|C3/Cal/2"},
      {"  ", false, "A1-x/Tinta branca/6|a10/Cal/0|A1m/antigo/2|B2/Cal/-1|C3/Cal/2"},
      {"A1", false, "A1-x/Tinta branca/6|a10/Cal/0|A1m/antigo/2"},  // lots of deleted materials too
      {"A1", true, "A1-x/Tinta branca/6|a10/Cal/0|A1m/antigo/2|A1z/Tinta branca/5"},
      {" A1", false, ""},  // the filter is searched as received
      {"7", false, ""},    // a name search, never a material number
  };
  for (const Case& c : cases) EXPECT_EQ(Rows(List("Consulta", c.filter, c.deactivated)), c.rows) << c.filter;
  MemTable t = List("Consulta", "A1-x");
  ASSERT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.AsString("T05_Validade"), "30/06/2025");
  EXPECT_EQ(t.AsInteger("T05_NumMaterial"), 1);
  EXPECT_EQ(t.AsFloat("T05_Custo"), 2.5);
  EXPECT_EQ(t.AsString("T05_Local"), "P1");
}

TEST_F(Lots, LookupsFilterByMaterialNumberAndThePositiveBalanceOne) {
  struct Case {
    std::string filter;
    bool deactivated;
    std::string rows;
  } cases[] = {
      {"", false, "A1m/antigo/2|a10/Cal/0|B2/Cal/-1|C3/Cal/2|A1-x/Tinta branca/6"},
      {"7", false, "a10/Cal/0|B2/Cal/-1|C3/Cal/2"},
      {"1", true, "A1-x/Tinta branca/6|A1z/Tinta branca/5"},
      {"abc", false, ""},  // material 0
      {" 7", false, "a10/Cal/0|B2/Cal/-1|C3/Cal/2"},
  };
  for (const Case& c : cases) EXPECT_EQ(Rows(List("ConsultaLookupLote", c.filter, c.deactivated)), c.rows) << c.filter;

  EXPECT_EQ(Rows(ListPositive("7", "false")), "C3/Cal/2");
  EXPECT_EQ(Rows(ListPositive("", "false")), "A1m/antigo/2|C3/Cal/2|A1-x/Tinta branca/6");
  EXPECT_EQ(Rows(ListPositive("1", "true")), "A1-x/Tinta branca/6|A1z/Tinta branca/5");
  EXPECT_EQ(Rows(ListPositive("1", "abc")), "A1-x/Tinta branca/6");  // a text that is not "true" reads as false
  // Balances follow the entry and output items the schema keeps them from.
  Exec("Insert into T12_ENT1 (T12_NumEntrada, T12_Data) Values (1, '2024-05-01');"
       "Insert into T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor) Values (1, 3, 12, 3);"
       "Insert into T16_SAI1 (T16_NumSaida) Values (1);"
       "Insert into T17_SAI2 (T17_NumSaida, T17_NumLote, T17_Qtd) Values (1, 3, 2)");
  EXPECT_EQ(Rows(ListPositive("7", "false")), "B2/Cal/10|C3/Cal/2");
}

TEST_F(Lots, LotOfMaterialAndFirstReceipt) {
  struct Case {
    std::string lot;
    std::string material;
    std::string numbers;
  } cases[] = {
      {"A1-x", "1", "1"},  {"A1del", "1", "5"}, {"A1z", "1", "4"},  // deleted and deactivated lots found
      {"A1-x", "7", ""},   {"a1-x", "1", ""},   {"A1-x", "x", ""},
  };
  for (const Case& c : cases) {
    MemTable t = LotOfMaterial(c.lot, c.material);
    EXPECT_EQ(Column(t, "T05_NumLote"), c.numbers) << c.lot << " " << c.material;
  }
  MemTable one = LotOfMaterial("A1-x", "1");
  EXPECT_EQ(one.AsString("T05_Saldo"), "6");

  Exec("Insert into T12_ENT1 (T12_NumEntrada, T12_Data, T12_Exclusao) Values "
       "(1, '2024-05-09', Null), (2, '2024-03-01', '2024-06-01'), (3, '2024-04-15', Null), (4, '2024-01-01', Null);"
       "Insert into T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor, T13_Exclusao) Values "
       "(1, 7, 1, 1, Null), (2, 7, 1, 1, '2024-06-01'), (3, 7, 1, 1, Null), (4, 7, 1, 1, '2024-02-01'),"
       "(2, 3, 1, 1, '2024-06-01')");
  MemTable first = FirstReceipt("7");
  ASSERT_EQ(first.RecordCount(), 1);
  EXPECT_EQ(first.AsString("T12_Data"), "15/04/2024");
  EXPECT_EQ(FirstReceipt("3").RecordCount(), 0);  // its only entry is deleted
  EXPECT_EQ(FirstReceipt("x").RecordCount(), 0);
}

TEST_F(Lots, SaveEditsTheDescriptiveColumnsOfAnExistingLot) {
  EXPECT_EQ(Save(LotTable({.num = 3, .material = 99, .name = "B2-novo", .deactivated = true,
                           .expiry = EncodeDate(2026, 1, 31), .place = "Depósito", .obs1 = "x", .obs2 = "y"})),
            "3");
  EXPECT_EQ(Sql("Select T05_Lote || '/' || T05_NumMaterial || '/' || T05_Desativado || '/' || T05_Validade || '/' || "
                "T05_Local || '/' || T05_Obs1 || '/' || T05_Obs2 || '/' || T05_Entradas || '/' || T05_Saidas || '/' "
                "|| T05_Custo From T05_LOTE Where T05_NumLote = 3"),
            "B2-novo/7/1/2026-01-31/Depósito/x/y/8.0/9.0/3.0");

  // A lot without an expiry date is saved without one.
  EXPECT_EQ(Save(LotTable({.num = 1, .name = "A1-x"})), "1");
  EXPECT_EQ(Sql("Select Coalesce(T05_Validade, '<none>') From T05_LOTE Where T05_NumLote = 1"), "<none>");

  struct Case {
    Lot lot;
    std::string answer;
  } cases[] = {
      {{.num = 7, .material = 7, .name = "a10"}, kSaveFailure + kNameTaken},
      {{.num = 7, .material = 1, .name = "A1z"}, kSaveFailure + kNameTaken},  // the check uses the material sent
      {{.num = 7, .material = 7, .name = "A1-x"}, "7"},                      // another material's name
      {{.num = 7, .material = 7, .name = "A1-x"}, "7"},                      // its own row is excluded
      {{.num = 0, .material = 7, .name = "a10"}, kSaveFailure + kNameTaken},
      {{.num = 0, .material = 7, .name = "Z9"}, "0"},
      {{.num = 50, .material = 7, .name = "Z9"}, "50"},
      {{.num = 6, .material = 1, .name = "A1del"}, "6"},  // deleted lots free their name
  };
  for (const Case& c : cases) EXPECT_EQ(Save(LotTable(c.lot)), c.answer) << c.lot.name;
  EXPECT_EQ(Sql("Select group_concat(T05_Lote, ',') From (Select T05_Lote From T05_LOTE Order by T05_NumLote)"),
            "A1-x,a10,B2-novo,A1z,A1del,A1del,A1-x");
  EXPECT_EQ(Sql("Select Count(*) From T05_LOTE"), "7");
  EXPECT_NE(server_.OperatorLog().find("GravaLote --> \r" + kNameTaken), std::string::npos);
}

TEST_F(Lots, BadInputTakesTheFailurePathAndWritesNothing) {
  EXPECT_EQ(Save(LotTable({.num = 2, .material = 7, .name = "novo"}, "31/02/2024")),
            kSaveFailure + "'31/02/2024' is not a valid date and time");
  const std::string notJson = Save("{\"ObjectType\":\"toDataset\", [");
  EXPECT_EQ(notJson.rfind(kSaveFailure, 0), 0u) << notJson;
  EXPECT_GT(notJson.size(), kSaveFailure.size());
  EXPECT_EQ(Sql("Select T05_Lote From T05_LOTE Where T05_NumLote = 2"), "a10");
  EXPECT_EQ(Save(LotTable({.num = 2, .material = 7, .name = "novo"})), "2");  // the write lock was released
}

TEST_F(Lots, DeleteIsRefusedWhileALiveDocumentUsesTheLot) {
  const std::string tail = ".\rPor este motivo a exclusão não poderá ser realizada.";
  struct Case {
    std::string rows;
    std::string release;
    std::string message;
  } cases[] = {
      {"Insert into T12_ENT1 (T12_NumEntrada) Values (1); Insert into T13_ENT2 Values (1, 3, 2, 3, Null)",
       "Update T12_ENT1 Set T12_Exclusao = '2024-01-01'", "Este lote está sendo utilizado no cadastro de entradas"},
      {"Insert into T16_SAI1 (T16_NumSaida) Values (1); Insert into T17_SAI2 Values (1, 3, 2, Null)",
       "Update T16_SAI1 Set T16_Exclusao = '2024-01-01'", "Este lote está sendo utilizado no cadastro de saídas"},
      {"Insert into T18_PER1 (T18_NumPerda) Values (1); Insert into T19_PER2 (T19_NumPerda, T19_NumLote) Values "
       "(1, 3)",
       "Update T18_PER1 Set T18_Exclusao = '2024-01-01'", "Este lote está sendo utilizado no cadastro de perdas"},
  };
  for (const Case& c : cases) {
    Exec(c.rows);
    EXPECT_EQ(Delete(3, 4), c.message + tail);
    EXPECT_EQ(Sql("Select Coalesce(T05_Exclusao, 'live') From T05_LOTE Where T05_NumLote = 3"), "live");
    Exec(c.release);
  }
  EXPECT_NE(server_.OperatorLog().find("Exclui --> Este lote está sendo utilizado no cadastro de entradas" + tail),
            std::string::npos);

  const std::string today = Sql("Select date('now', 'localtime')");
  EXPECT_EQ(Delete(3, 4), "OK");
  EXPECT_EQ(Sql("Select T05_Exclusao || '/' || T05_ExcluidoPor From T05_LOTE Where T05_NumLote = 3"), today + "/4");
  EXPECT_EQ(Delete(3, 8), "OK");
  EXPECT_EQ(Sql("Select T05_ExcluidoPor From T05_LOTE Where T05_NumLote = 3"), "8");
  EXPECT_EQ(Delete(77, 8), "OK");
  EXPECT_EQ(Sql("Select Count(*) From T05_LOTE Where T05_Exclusao is not Null"), "2");
  EXPECT_EQ(Rows(List("ConsultaLookupLote", "7")), "a10/Cal/0|C3/Cal/2");
  MemTable still = LotOfMaterial("B2", "7");
  EXPECT_EQ(still.RecordCount(), 1);
}

}  // namespace
}  // namespace quelvar::test
