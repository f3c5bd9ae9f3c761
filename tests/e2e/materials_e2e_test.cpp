// The material register over HTTP, against a database the server creates
// from its built-in schema.

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue_support.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

constexpr std::string_view kGroup = "DWServerEventsT04_MATE";
const std::string kDescriptionTaken =
    "Um material com esta descrição já foi cadastrado anteriormente.\rO número do outro item é ";
const std::string kBarcodeTaken =
    "Um material com este código de barras já foi cadastrado anteriormente.\rO número do outro item é ";

// One material row as a client sends it; numbers travel as text so that bad
// input can be sent too.
struct Material {
  std::int64_t num = 0;
  std::string description = "";
  std::string barcode = "";
  int group = 1;
  bool deactivated = false;
  bool usesLots = true;
  std::string minimum = "1,5";
  std::string ideal = "10";
  std::string weight = "0,25";
  std::string unit = "UN";
  std::string ncm = "7318.15.00";
  std::string obs1 = "nota 1";
  std::string obs2 = "nota 2";
};

std::string MaterialTable(const Material& m, std::string_view leaveOut = "") {
  MemTable t;
  auto add = [&](std::string name, TFieldType type) {
    const int size = type == TFieldType::ftWideString ? 60 : 0;
    if (name != leaveOut) t.AddFieldDef({.name = std::move(name), .type = type, .size = size});
  };
  add("T04_NumMaterial", TFieldType::ftInteger);
  add("T04_Material", TFieldType::ftWideString);
  add("T04_CodBarra", TFieldType::ftWideString);
  add("T04_Desativado", TFieldType::ftBoolean);
  add("T04_EstqMinimo", TFieldType::ftWideString);
  add("T04_EstqIdeal", TFieldType::ftWideString);
  add("T04_Peso", TFieldType::ftWideString);
  add("T04_Unidade", TFieldType::ftWideString);
  add("T04_NCM", TFieldType::ftWideString);
  add("T04_Obs1", TFieldType::ftWideString);
  add("T04_Obs2", TFieldType::ftWideString);
  add("T04_NumGrupo", TFieldType::ftInteger);
  add("T04_UsaLote", TFieldType::ftBoolean);
  t.Open();
  t.Append();
  auto set = [&](std::string_view name, Variant v) {
    if (name != leaveOut) t.SetValue(name, std::move(v));
  };
  set("T04_NumMaterial", Variant::Integer(m.num));
  set("T04_Material", Variant::Text(m.description));
  set("T04_CodBarra", Variant::Text(m.barcode));
  set("T04_Desativado", Variant::Boolean(m.deactivated));
  set("T04_EstqMinimo", Variant::Text(m.minimum));
  set("T04_EstqIdeal", Variant::Text(m.ideal));
  set("T04_Peso", Variant::Text(m.weight));
  set("T04_Unidade", Variant::Text(m.unit));
  set("T04_NCM", Variant::Text(m.ncm));
  set("T04_Obs1", Variant::Text(m.obs1));
  set("T04_Obs2", Variant::Text(m.obs2));
  set("T04_NumGrupo", Variant::Integer(m.group));
  set("T04_UsaLote", Variant::Boolean(m.usesLots));
  t.Post();
  return DatasetText(t);
}

class Materials : public ::testing::Test {
 protected:
  Materials() : server_(ServerProcess::FreshDatabase()) {}
  void SetUp() override {
    server_.StartWithFreshDatabase();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.OperatorLog();
    Exec("Insert into T06_GRUP (T06_NumGrupo, T06_Grupo) Values (1, 'Ferragens'), (2, 'Elétricos')");
  }

  void Exec(const std::string& sql) { ExecSql(server_.databasePath(), sql); }
  std::string Sql(const std::string& sql) { return SqlText(server_.databasePath(), sql); }

  std::string Save(const std::string& table) {
    const EventReply reply = CallEvent(server_.port(), kGroup, "Grava",
                                       {{"Tabela", StringParam("Tabela", table)}, {"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }
  std::string SaveMaterial(const Material& m) { return Save(MaterialTable(m)); }

  MemTable List(std::string_view event, const std::string& filter, bool deactivated = false) {
    return TableOf(CallEvent(server_.port(), kGroup, event,
                             {{"Filtro", StringParam("Filtro", filter)},
                              {"Tabela", OutParam("Tabela")},
                              {"Desativados", BooleanParam("Desativados", deactivated)}}));
  }

  std::string Delete(int material, int user) {
    const EventReply reply =
        CallEvent(server_.port(), kGroup, "Exclui",
                  {{"NumMaterial", IntegerParam("NumMaterial", material)},
                   {"NumUsuario", IntegerParam("NumUsuario", user)},
                   {"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }

  ServerProcess server_;
};

TEST_F(Materials, NewMaterialIsStoredWithFixedFlagsAndAnswersItsNumber) {
  Material m{.description = "Parafuso 8mm", .barcode = "789100", .deactivated = true, .usesLots = false};
  EXPECT_EQ(SaveMaterial(m), "1");
  m.description = "Porca 8mm";
  m.barcode = "";
  EXPECT_EQ(SaveMaterial(m), "2");
  EXPECT_EQ(Sql("Select T04_Desativado || '/' || T04_UsaLote || '/' || typeof(T04_CustoMedio) || T04_CustoMedio || '/' "
                "|| T04_EstqMinimo || '/' || T04_EstqIdeal || '/' || T04_Peso || '/' || T04_Unidade || '/' || "
                "T04_CodBarra || '/' || T04_NCM || '/' || T04_Obs1 || '/' || T04_Obs2 || '/' || T04_NumGrupo || '/' "
                "|| T04_Material || '/' || Coalesce(T04_Exclusao, 'live') From T04_MATE Where T04_NumMaterial = 1"),
            "0/1/real0.0/1.5/10.0/0.25/UN/789100/7318.15.00/nota 1/nota 2/1/Parafuso 8mm/live");
  MemTable t = List("Consulta", "");
  EXPECT_EQ(Column(t, "T04_NumMaterial"), "1|2");
  t.First();
  EXPECT_EQ(t.AsString("T06_Grupo"), "Ferragens");
  EXPECT_EQ(t.AsFloat("T04_Saldo"), 0.0);
}

TEST_F(Materials, UniquenessChecksConsiderLiveRowsOtherThanTheSavedOne) {
  ASSERT_EQ(SaveMaterial({.description = "Arruela", .barcode = "555"}), "1");
  ASSERT_EQ(SaveMaterial({.description = "Broca", .barcode = ""}), "2");
  struct Case {
    Material material;
    std::string answer;
  } cases[] = {
      {{.description = "Arruela", .barcode = "999"}, kSaveFailure + kDescriptionTaken + "000001"},
      {{.description = "arruela", .barcode = "999"}, "3"},  // exact comparison
      {{.description = "Cabo", .barcode = "555"}, kSaveFailure + kBarcodeTaken + "000001"},
      {{.description = "Cabo", .barcode = " 555"}, "4"},    // barcode compared as sent
      {{.description = "Disco", .barcode = "  "}, "5"},     // blank barcodes skip the check
      {{.description = "Estopa", .barcode = ""}, "6"},
      {{.num = 1, .description = "Arruela", .barcode = "555"}, "1"},  // its own row is excluded
      {{.num = 2, .description = "Arruela"}, kSaveFailure + kDescriptionTaken + "000001"},
      {{.num = 2, .description = "Broca", .barcode = "555"}, kSaveFailure + kBarcodeTaken + "000001"},
  };
  for (const Case& c : cases) EXPECT_EQ(SaveMaterial(c.material), c.answer) << c.material.description;
  EXPECT_EQ(Sql("Select Count(*) From T04_MATE"), "6");
  EXPECT_EQ(Sql("Select Coalesce(T04_CodBarra, '<null>') From T04_MATE Where T04_NumMaterial = 2"), "");
  EXPECT_NE(server_.OperatorLog().find("GravaMaterial --> \r" + kDescriptionTaken + "000001"), std::string::npos);

  // Deleting a material frees its description and barcode.
  ASSERT_EQ(Delete(1, 7), "OK");
  EXPECT_EQ(SaveMaterial({.description = "Arruela", .barcode = "555"}), "7");
}

TEST_F(Materials, UpdateWritesTheClientsValuesButKeepsTheStoredAverageCost) {
  ASSERT_EQ(SaveMaterial({.description = "Fita isolante"}), "1");
  Exec("Update T04_MATE Set T04_CustoMedio = 7.25 Where T04_NumMaterial = 1");
  EXPECT_EQ(SaveMaterial({.num = 1,
                          .description = "Fita isolante preta",
                          .barcode = "321",
                          .group = 2,
                          .deactivated = true,
                          .minimum = "2", .ideal = "20,5", .weight = "0,1", .unit = "RL"}),
            "1");
  EXPECT_EQ(Sql("Select T04_Material || '/' || T04_CodBarra || '/' || T04_NumGrupo || '/' || T04_Desativado || '/' "
                "|| T04_EstqMinimo || '/' || T04_EstqIdeal || '/' || T04_Peso || '/' || T04_Unidade || '/' || "
                "T04_CustoMedio || '/' || T04_UsaLote From T04_MATE"),
            "Fita isolante preta/321/2/1/2.0/20.5/0.1/RL/7.25/1");
  EXPECT_EQ(List("Consulta", "").RecordCount(), 0);  // deactivated
  MemTable shown = List("Consulta", "", true);
  ASSERT_EQ(shown.RecordCount(), 1);
  EXPECT_EQ(shown.AsFloat("T04_CustoMedio"), 7.25);
  EXPECT_EQ(shown.AsString("T06_Grupo"), "Elétricos");

  // A material no longer kept by lots leaves both lists, though it is live.
  EXPECT_EQ(SaveMaterial({.num = 1, .description = "Fita isolante preta", .usesLots = false}), "1");
  EXPECT_EQ(List("Consulta", "", true).RecordCount(), 0);
  EXPECT_EQ(List("Consulta2", "", true).RecordCount(), 0);

  // An update of a number that names no material changes nothing.
  EXPECT_EQ(SaveMaterial({.num = 40, .description = "Fantasma"}), "40");
  EXPECT_EQ(Sql("Select Count(*) From T04_MATE"), "1");
}

TEST_F(Materials, BadInputTakesTheFailurePathAndWritesNothing) {
  ASSERT_EQ(SaveMaterial({.description = "Martelo", .minimum = "3"}), "1");
  struct Case {
    std::string table;
    std::string answer;  // whole answer, or its start when `prefixOnly`
    bool prefixOnly;
  } cases[] = {
      {MaterialTable({.description = "Serrote", .minimum = "abc"}),
       kSaveFailure + "'abc' is not a valid floating point value", false},
      {MaterialTable({.num = 1, .description = "Martelo", .weight = "1.5.3"}),
       kSaveFailure + "'1.5.3' is not a valid floating point value", false},
      {MaterialTable({.description = "Serrote"}, "T04_Peso"), kSaveFailure + "Field 'T04_Peso' not found", false},
      {MaterialTable({.description = "Serrote"}, "T04_Material"), kSaveFailure + "Field 'T04_Material' not found",
       false},
      {"{\"ObjectType\":\"toDataset\", [", kSaveFailure, true},
  };
  for (const Case& c : cases) {
    const std::string answer = Save(c.table);
    if (c.prefixOnly) {
      EXPECT_EQ(answer.rfind(c.answer, 0), 0u) << answer;
      EXPECT_GT(answer.size(), c.answer.size()) << answer;
    } else {
      EXPECT_EQ(answer, c.answer);
    }
  }
  EXPECT_EQ(Sql("Select Count(*) || '/' || T04_EstqMinimo || '/' || T04_Peso From T04_MATE"), "1/3.0/0.25");
  // The write lock was released on every failure path: a later save goes through.
  EXPECT_EQ(SaveMaterial({.description = "Serrote"}), "2");
}

TEST_F(Materials, FiltersSearchNumberAndBarcodeOrDescriptionAndResultsAreOrderedIgnoringCase) {
  Exec("Insert into T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_CodBarra, T04_Desativado, T04_UsaLote, "
       "T04_Exclusao) Values "
       "(3,  1, 'banana 10',      '12',  0, 1, Null),"
       "(12, 1, 'Abacate',        '',    0, 1, Null),"
       "(14, 2, 'cenoura -5 kg',  '777', 0, 1, Null),"
       "(20, 1, 'Damasco',        '888', 1, 1, Null),"
       "(21, 1, 'BANANA prata',   '',    0, 1, Null),"
       "(22, 1, 'Banana velha',   '',    0, 1, '2024-01-02'),"
       "(23, 1, 'Banana solta',   '',    0, 0, Null),"
       "(24, 9, 'Banana sem grupo', '',  0, 1, Null)");
  struct Case {
    std::string filter;
    bool deactivated;
    std::string numbers;
  } cases[] = {
      {"", false, "12|3|21|14"},
      {"   ", false, "12|3|21|14"},
      {"", true, "12|3|21|14|20"},
      {"12", false, "12|3"},          // number 12, and barcode "12"
      {" 12 ", false, "12|3"},        // trimmed first
      {"777", false, "14"},           // a full barcode
      {"14", false, "14"},
      {"888", false, ""},             // deactivated
      {"888", true, "20"},
      {"0", false, "3"},              // not above 0: description contains "0"
      {"-5", false, "14"},
      {"banana", false, "3|21"},
      {"  PRATA ", false, "21"},
      {"1,5", false, ""},             // above 0, but neither a number nor a barcode
      {"abacate x", false, ""},
  };
  for (const Case& c : cases) {
    for (std::string_view event : {"Consulta", "Consulta2"}) {
      MemTable t = List(event, c.filter, c.deactivated);
      EXPECT_EQ(Column(t, "T04_NumMaterial"), c.numbers) << event << " '" << c.filter << "'";
    }
  }
  MemTable t = List("Consulta", "");
  EXPECT_EQ(Column(t, "T04_Material"), "Abacate|banana 10|BANANA prata|cenoura -5 kg");
}

TEST_F(Materials, BalancesAndComputedAverageCostComeFromLiveLots) {
  Exec("Insert into T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_CustoMedio, T04_UsaLote) Values "
       "(1, 1, 'Cimento', 9.75, 1), (2, 1, 'Areia', 1.5, 1), (3, 1, 'Brita', 0, 1)");
  Exec("Insert into T05_LOTE (T05_NumLote, T05_Lote, T05_NumMaterial, T05_Entradas, T05_Saidas, T05_Custo, "
       "T05_Desativado, T05_Exclusao) Values "
       "(1, 'L1', 1, 10, 4, 2.0, 0, Null),"
       "(2, 'L2', 1, 30, 0, 4.0, 1, Null),"            // deactivated lots count
       "(3, 'L3', 1, 100, 0, 50.0, 0, '2024-03-01'),"  // deleted lots do not
       "(4, 'L4', 3, 0, 0, 8.0, 0, Null)");            // received nothing
  // A new lot starts from the items that name it, so the figures are set afterwards.
  Exec("Update T05_LOTE Set (T05_Entradas, T05_Saidas, T05_Custo) = (Select column2, column3, column4 From (Values "
       "(1, 10, 4, 2.0), (2, 30, 0, 4.0), (3, 100, 0, 50.0), (4, 0, 0, 8.0)) Where column1 = T05_NumLote)");
  // Figures kept by the schema from a live entry: 5 at 3,00 and 15 at 5,00.
  Exec("Insert into T05_LOTE (T05_NumLote, T05_Lote, T05_NumMaterial) Values (5, 'L5', 2);"
       "Insert into T12_ENT1 (T12_NumEntrada, T12_Data) Values (1, '2024-05-01');"
       "Insert into T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor) Values (1, 5, 5, 3), (1, 5, 15, 5)");

  MemTable list1 = List("Consulta", "");
  EXPECT_EQ(Column(list1, "T04_Material"), "Areia|Brita|Cimento");
  EXPECT_EQ(Column(list1, "T04_Saldo"), "20|0|36");
  EXPECT_EQ(Column(list1, "T04_CustoMedio"), "1,5|0|9,75");  // the stored column

  MemTable list2 = List("Consulta2", "");
  EXPECT_EQ(Column(list2, "T04_Saldo"), "20|0|36");
  // (10 x 2 + 30 x 4) / 40 = 3,5; (5 x 3 + 15 x 5) / 20 = 4,5; nothing received: 0.
  EXPECT_EQ(Column(list2, "T04_CustoMedio"), "4,5|0|3,5");
  std::string names;
  for (const FieldDef& f : list2.Fields()) names += f.name + " ";
  EXPECT_EQ(names,
            "T04_NumMaterial T04_NumGrupo T04_Material T04_EstqMinimo T04_EstqIdeal T04_Peso T04_Unidade "
            "T04_CodBarra T04_NCM T04_Obs1 T04_Obs2 T04_Desativado T04_UsaLote T06_Grupo T04_Saldo T04_CustoMedio ");

  // No lot at all: 0 in both columns, not an error.
  Exec("Delete From T05_LOTE Where T05_NumMaterial = 3");
  MemTable none = List("Consulta2", "Brita");
  ASSERT_EQ(none.RecordCount(), 1);
  EXPECT_EQ(none.AsFloat("T04_Saldo"), 0.0);
  EXPECT_EQ(none.AsFloat("T04_CustoMedio"), 0.0);
}

TEST_F(Materials, DeleteIsRefusedWhileALiveDocumentHoldsTheMaterial) {
  Exec("Insert into T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_UsaLote) Values (1, 1, 'Tinta', 1);"
       "Insert into T05_LOTE (T05_NumLote, T05_Lote, T05_NumMaterial) Values (1, 'T1', 1)");
  const std::string tail = ".\rPor este motivo a exclusão não poderá ser realizada.";
  struct Case {
    std::string name;
    std::string rows;      // the document that holds material 1
    std::string release;   // what frees it
    std::string message;
  } cases[] = {
      {"pedido", "Insert into T10_PED1 (T10_NumPedido) Values (1); Insert into T11_PED2 Values (1, 1, 2, 3)",
       "Update T10_PED1 Set T10_VirouEntrada = '2024-01-01'", "Este material está sendo utilizado no cadastro de pedidos"},
      {"entrada", "Insert into T12_ENT1 (T12_NumEntrada) Values (1); Insert into T13_ENT2 Values (1, 1, 2, 3, Null)",
       "Update T12_ENT1 Set T12_Exclusao = '2024-01-01'", "Este material está sendo utilizado no cadastro de entradas"},
      {"requisicao", "Insert into T14_REQ1 (T14_NumRequis) Values (1); Insert into T15_REQ2 Values (1, 1, 2)",
       "Update T14_REQ1 Set T14_VirouSaida = '2024-01-01'",
       "Este material está sendo utilizado no cadastro de requisições"},
      {"saida", "Insert into T16_SAI1 (T16_NumSaida) Values (1); Insert into T17_SAI2 Values (1, 1, 2, Null)",
       "Update T16_SAI1 Set T16_Exclusao = '2024-01-01'", "Este material está sendo utilizado no cadastro de saídas"},
      {"perda", "Insert into T18_PER1 (T18_NumPerda) Values (1); Insert into T19_PER2 (T19_NumPerda, T19_NumLote) "
                "Values (1, 1)",
       "Update T18_PER1 Set T18_Exclusao = '2024-01-01'", "Este material está sendo utilizado no cadastro de perdas"},
  };
  for (const Case& c : cases) {
    Exec(c.rows);
    EXPECT_EQ(Delete(1, 3), c.message + tail) << c.name;
    EXPECT_EQ(Sql("Select Coalesce(T04_Exclusao, 'live') From T04_MATE"), "live") << c.name;
    Exec(c.release);
  }
  EXPECT_NE(server_.OperatorLog().find("Exclui --> Este material está sendo utilizado no cadastro de perdas" + tail),
            std::string::npos);
  EXPECT_EQ(Delete(1, 3), "OK");
  EXPECT_EQ(Sql("Select T04_ExcluidoPor From T04_MATE"), "3");
}

TEST_F(Materials, OrdersAreCheckedFirstAndDeletingTwiceOrAMissingNumberAnswersOk) {
  Exec("Insert into T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_UsaLote) Values (1, 1, 'Cola', 1),"
       "(2, 1, 'Lixa', 1);"
       "Insert into T05_LOTE (T05_NumLote, T05_Lote, T05_NumMaterial) Values (1, 'C1', 1);"
       "Insert into T12_ENT1 (T12_NumEntrada) Values (1); Insert into T13_ENT2 Values (1, 1, 2, 3, Null);"
       "Insert into T10_PED1 (T10_NumPedido) Values (1); Insert into T11_PED2 Values (1, 1, 2, 3)");
  EXPECT_EQ(Delete(1, 3),
            "Este material está sendo utilizado no cadastro de pedidos.\rPor este motivo a exclusão não poderá ser "
            "realizada.");

  const std::string today = Sql("Select date('now', 'localtime')");
  EXPECT_EQ(Delete(2, 5), "OK");
  EXPECT_EQ(Sql("Select T04_Exclusao || '/' || T04_ExcluidoPor From T04_MATE Where T04_NumMaterial = 2"), today + "/5");
  EXPECT_EQ(Delete(2, 6), "OK");
  EXPECT_EQ(Sql("Select T04_Exclusao || '/' || T04_ExcluidoPor From T04_MATE Where T04_NumMaterial = 2"), today + "/6");
  EXPECT_EQ(Delete(99, 6), "OK");
  EXPECT_EQ(Sql("Select Count(*) From T04_MATE Where T04_Exclusao is not Null"), "1");
  MemTable left = List("Consulta", "");
  EXPECT_EQ(Column(left, "T04_Material"), "Cola");
}

TEST_F(Materials, ConcurrentSavesOfOneNewDescriptionStoreItOnce) {
  constexpr int kClients = 8;
  const std::string table = MaterialTable({.description = "Luva de raspa"});
  std::vector<std::string> answers(kClients);
  std::vector<std::thread> clients;
  std::atomic<bool> go{false};
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      answers[static_cast<std::size_t>(i)] = Save(table);
    });
  }
  go = true;
  for (std::thread& client : clients) client.join();

  int numbers = 0;
  int duplicates = 0;
  for (const std::string& answer : answers) {
    if (answer == "1") ++numbers;
    if (answer == kSaveFailure + kDescriptionTaken + "000001") ++duplicates;
  }
  EXPECT_EQ(numbers, 1);
  EXPECT_EQ(duplicates, kClients - 1);
  EXPECT_EQ(Sql("Select Count(*) From T04_MATE"), "1");
}

}  // namespace
}  // namespace quelvar::test
