// Groups, cost centres, suppliers and sectors over HTTP, against a database
// the server creates from its built-in schema.

#include <sqlite3.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "data/mem_table.h"
#include "database_file.h"
#include "event_client.h"
#include "data/dataset_json.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

const std::string kSaveFailure = "Ocorreu um erro na gravação no banco de dados.\r";
const std::string kStillUsed = "Por este motivo a exclusão não poderá ser realizada.";

struct Register {
  std::string group;
  std::string table;
  std::string key;
  std::string name;
  std::string deactivated;
  std::string keyParam;
  std::string duplicate;
};

const Register kGroup{"DWServerEventsT06_GRUP", "T06_GRUP", "T06_NumGrupo", "T06_Grupo", "T06_Desativado",
                      "NumGrupo", "Um grupo com esta descrição já foi cadastrado anteriormente."};
const Register kCostCentre{"DWServerEventsT07_CENC", "T07_CENC", "T07_NumCC", "T07_CentroCusto", "T07_Desativado",
                           "NumCC", "Um centro de custo com esta descrição já foi cadastrado anteriormente."};
const Register kSupplier{"DWServerEventsT08_FORN", "T08_FORN", "T08_NumFornec", "T08_Fornecedor", "T08_Desativado",
                         "NumFornec", "Um fornecedor com esta descrição já foi cadastrado anteriormente."};
const Register kSector{"DWServerEventsT09_SETO", "T09_SETO", "T09_NumSetor", "T09_Setor", "T09_Desativado",
                       "NumSetor", "Um setor com esta descrição já foi cadastrado anteriormente."};
const Register kAll[] = {kGroup, kCostCentre, kSupplier, kSector};

const std::vector<std::string> kSupplierTexts = {
    "T08_RazaoSocial", "T08_Contato", "T08_CNPJ",   "T08_Inscricao", "T08_Email",      "T08_Site",
    "T08_Telefone1",   "T08_Telefone2", "T08_Endereco", "T08_Bairro", "T08_Cidade",     "T08_Estado",
    "T08_CEP",         "T08_PontoRefer", "T08_Obs1",   "T08_Obs2"};

// One row as a client sends it. `key` is sent as text so that bad input can be sent too.
struct Row {
  std::string key = "0";
  std::string name;
  bool deactivated = false;
  std::string cnpj;          // suppliers only
  bool withName = true;
};

Row Named(std::string name, std::string key = "0", bool deactivated = false, std::string cnpj = "") {
  Row row;
  row.key = std::move(key);
  row.name = std::move(name);
  row.deactivated = deactivated;
  row.cnpj = std::move(cnpj);
  return row;
}
Row WithoutName() {
  Row row = Named("X");
  row.withName = false;
  return row;
}

std::string RowTable(const Register& reg, const Row& row) {
  MemTable t;
  t.AddFieldDef({.name = reg.key, .type = TFieldType::ftWideString, .size = 20});
  if (row.withName) t.AddFieldDef({.name = reg.name, .type = TFieldType::ftWideMemo});
  t.AddFieldDef({.name = reg.deactivated, .type = TFieldType::ftBoolean});
  const bool supplier = reg.table == "T08_FORN";
  if (supplier)
    for (const std::string& column : kSupplierTexts) t.AddFieldDef({.name = column, .type = TFieldType::ftWideMemo});
  t.Open();
  t.Append();
  t.SetValue(reg.key, Variant::Text(row.key));
  if (row.withName) t.SetValue(reg.name, Variant::Text(row.name));
  t.SetValue(reg.deactivated, Variant::Boolean(row.deactivated));
  if (supplier)
    for (const std::string& column : kSupplierTexts)
      t.SetValue(column, Variant::Text(column == "T08_CNPJ" ? row.cnpj : column + " de " + row.name));
  t.Post();
  TJSONValue holder;
  LoadFromDataset(holder, "temp", t, true);
  return holder.ToJSON();
}

std::string TypedParam(std::string_view name, bool isBoolean, std::int32_t value) {
  TJSONParam p(TEncodeSelect::esASCII);
  p.SetParamName(name);
  p.SetDirection(TObjectDirection::odIN);
  p.SetEncoded(true);
  if (isBoolean)
    p.SetAsBoolean(value != 0);
  else
    p.SetAsInteger(value);
  return p.ToJSON();
}

class Registers : public ::testing::Test {
 protected:
  Registers() : server_(ServerProcess::FreshDatabase()) {}
  void SetUp() override {
    server_.StartWithFreshDatabase();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.Stderr();
  }

  // Runs a statement on the database file directly (fixtures of other tables).
  void Exec(const std::string& sql) { ExecSql(server_.databasePath(), sql); }
  std::string QueryOne(const std::string& sql) { return SqlText(server_.databasePath(), sql); }

  MemTable List(const Register& reg, const std::string& filter, bool deactivated) {
    const EventReply reply = CallEvent(server_.port(), reg.group, "Consulta",
                                       {{"Filtro", StringParam("Filtro", filter)},
                                        {"Tabela", OutParam("Tabela")},
                                        {"Desativados", TypedParam("Desativados", true, deactivated ? 1 : 0)}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    MemTable t;
    TJSONValue holder;
    WriteToDataset(holder, reply.Text("Tabela"), t);
    return t;
  }
  std::vector<std::string> Names(const Register& reg, const std::string& filter, bool deactivated) {
    MemTable t = List(reg, filter, deactivated);
    std::vector<std::string> names;
    for (t.First(); !t.Eof(); t.Next()) names.push_back(t.AsString(reg.name));
    return names;
  }
  std::string Save(const Register& reg, const std::string& table) {
    const EventReply reply = CallEvent(server_.port(), reg.group, "Grava",
                                       {{"Tabela", StringParam("Tabela", table)}, {"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }
  std::string Save(const Register& reg, const Row& row) { return Save(reg, RowTable(reg, row)); }
  std::string Delete(const Register& reg, int key, int user) {
    const EventReply reply = CallEvent(server_.port(), reg.group, "Exclui",
                                       {{reg.keyParam, TypedParam(reg.keyParam, false, key)},
                                        {"NumUsuario", TypedParam("NumUsuario", false, user)},
                                        {"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }
  std::string Column(const Register& reg, const std::string& column, int key) {
    return QueryOne("Select " + column + " From " + reg.table + " Where " + reg.key + " = " + std::to_string(key));
  }

  ServerProcess server_;
};

TEST_F(Registers, SaveInsertsUpdatesAndRefusesASecondLiveName) {
  for (const Register& reg : kAll) {
    SCOPED_TRACE(reg.group);
    EXPECT_EQ(Save(reg, Named("Alfa")), "1");
    EXPECT_EQ(Save(reg, Named("Beta")), "2");
    EXPECT_EQ(Save(reg, Named("Alfa")), kSaveFailure + reg.duplicate);
    EXPECT_EQ(Save(reg, Named("Alfa", "2")), kSaveFailure + reg.duplicate);
    // An update keeping its own name is not a duplicate of itself.
    EXPECT_EQ(Save(reg, Named("Beta", "2", true)), "2");
    EXPECT_EQ(Column(reg, reg.deactivated, 2), "1");
    EXPECT_EQ(Save(reg, Named("Gama", "2")), "2");
    EXPECT_EQ(Column(reg, reg.name, 2), "Gama");
    EXPECT_EQ(Column(reg, reg.deactivated, 2), "0");
    // A new row is stored live whatever the flag sent says.
    EXPECT_EQ(Save(reg, Named("Delta", "0", true)), "3");
    EXPECT_EQ(Column(reg, reg.deactivated, 3), "0");
    EXPECT_EQ(QueryOne("Select count(*) From " + reg.table), "3");
    // Once deleted, a name may be used again.
    EXPECT_EQ(Delete(reg, 1, 5), "OK");
    EXPECT_EQ(Save(reg, Named("Alfa")), "4");
  }
}

TEST_F(Registers, ListHonoursDeactivationDeletionAndTheFilterAsReceived) {
  for (const Register& reg : kAll) {
    SCOPED_TRACE(reg.group);
    ASSERT_EQ(Save(reg, Named("beta")), "1");
    ASSERT_EQ(Save(reg, Named("Alfa")), "2");
    ASSERT_EQ(Save(reg, Named("Centro Leste")), "3");
    ASSERT_EQ(Save(reg, Named("gama")), "4");
    ASSERT_EQ(Save(reg, Named("gama", "4", true)), "4");
    ASSERT_EQ(Save(reg, Named("Alfaiate")), "5");
    ASSERT_EQ(Delete(reg, 5, 1), "OK");
    using Names_ = std::vector<std::string>;
    struct Case {
      std::string filter;
      bool deactivated;
      Names_ expected;
    } cases[] = {
        {"", false, {"Alfa", "beta", "Centro Leste"}},
        {"", true, {"Alfa", "beta", "Centro Leste", "gama"}},
        {"   ", false, {"Alfa", "beta", "Centro Leste"}},  // blanks only: everything
        {" Leste", false, {"Centro Leste"}},
        {" beta", false, {}},  // the leading blank is searched for too
        {"ALF", false, {"Alfa"}},
        {"am", false, {}},
        {"am", true, {"gama"}},
    };
    for (const Case& c : cases)
      EXPECT_EQ(Names(reg, c.filter, c.deactivated), c.expected) << "filter '" << c.filter << "'";
  }
}

TEST_F(Registers, ListColumnsAreTheRegistersOwn) {
  ASSERT_EQ(Save(kGroup, Named("Parafusos")), "1");
  MemTable groups = List(kGroup, "", false);
  ASSERT_EQ(groups.FieldCount(), 3);
  EXPECT_EQ(groups.Fields()[0].name, "T06_NumGrupo");
  EXPECT_EQ(groups.Fields()[2].name, "T06_Desativado");
  EXPECT_EQ(groups.AsInteger("T06_NumGrupo"), 1);

  ASSERT_EQ(Save(kSupplier, Named("Ferragens", "0", false, "12.345")), "1");
  MemTable suppliers = List(kSupplier, "", false);
  ASSERT_EQ(suppliers.FieldCount(), 19);
  EXPECT_EQ(suppliers.Fields()[1].name, "T08_Fornecedor");
  EXPECT_EQ(suppliers.Fields()[18].name, "T08_Desativado");
  ASSERT_EQ(suppliers.RecordCount(), 1);
  for (std::size_t i = 0; i < kSupplierTexts.size(); ++i) {
    EXPECT_EQ(suppliers.Fields()[i + 2].name, kSupplierTexts[i]);
    const std::string expected = kSupplierTexts[i] == "T08_CNPJ" ? "12.345" : kSupplierTexts[i] + " de Ferragens";
    EXPECT_EQ(suppliers.AsString(kSupplierTexts[i]), expected);
  }
  // An update writes every text column.
  ASSERT_EQ(Save(kSupplier, Named("Ferragens Sul", "1", false, "99")), "1");
  EXPECT_EQ(Column(kSupplier, "T08_Obs2", 1), "T08_Obs2 de Ferragens Sul");
  EXPECT_EQ(Column(kSupplier, "T08_CNPJ", 1), "99");
}

TEST_F(Registers, SupplierTaxNumberIsUniqueWhenNotBlank) {
  EXPECT_EQ(Save(kSupplier, Named("Um")), "1");
  EXPECT_EQ(Save(kSupplier, Named("Dois", "0", false, "  ")), "2");
  EXPECT_EQ(Save(kSupplier, Named("Tres", "0", false, "11.222.333/0001-44")), "3");
  const std::string refused = kSaveFailure +
                              "Um outro fornecedor já foi gravado com este mesmo CNPJ.\rO nome do outro fornecedor é: "
                              "Tres";
  EXPECT_EQ(Save(kSupplier, Named("Quatro", "0", false, "11.222.333/0001-44")), refused);
  EXPECT_EQ(Save(kSupplier, Named("Um", "1", false, "11.222.333/0001-44")), refused);
  EXPECT_EQ(Column(kSupplier, "T08_CNPJ", 1), "");
  // Its own number again is no conflict; the same text with other blanks is another number.
  EXPECT_EQ(Save(kSupplier, Named("Tres", "3", false, "11.222.333/0001-44")), "3");
  EXPECT_EQ(Save(kSupplier, Named("Cinco", "0", false, " 11.222.333/0001-44")), "4");
  // A deleted supplier's number is free again.
  EXPECT_EQ(Delete(kSupplier, 3, 1), "OK");
  EXPECT_EQ(Save(kSupplier, Named("Seis", "0", false, "11.222.333/0001-44")), "5");
  EXPECT_EQ(QueryOne("Select count(*) From T08_FORN"), "5");
}

TEST_F(Registers, BadRowsTakeTheFailurePathAndWriteNothing) {
  for (const Register& reg : kAll) {
    SCOPED_TRACE(reg.group);
    struct Case {
      std::string table;
      std::string messageStart;
    } cases[] = {
        {RowTable(reg, WithoutName()), kSaveFailure + "Field '" + reg.name + "' not found"},
        {RowTable(reg, Named("X", "abc")), kSaveFailure + "'abc' is not a valid integer value"},
        {"[]", kSaveFailure + "Invalid JSON Data..."},
    };
    for (const Case& c : cases) {
      const std::string answer = Save(reg, c.table);
      EXPECT_EQ(answer.rfind(c.messageStart, 0), 0u) << answer;
    }
    EXPECT_EQ(QueryOne("Select count(*) From " + reg.table), "0");
  }
}

TEST_F(Registers, DeleteMarksTheRowWithTodayAndTheUser) {
  for (const Register& reg : kAll) {
    SCOPED_TRACE(reg.group);
    ASSERT_EQ(Save(reg, Named("Livre")), "1");
    EXPECT_EQ(Delete(reg, 1, 77), "OK");
    EXPECT_EQ(QueryOne("Select " + reg.table.substr(0, 4) + "Exclusao = date('now','localtime') From " + reg.table),
              "1");
    EXPECT_EQ(QueryOne("Select " + reg.table.substr(0, 4) + "ExcluidoPor From " + reg.table), "77");
    EXPECT_EQ(QueryOne("Select count(*) From " + reg.table), "1");  // the row stays
    EXPECT_EQ(Delete(reg, 999, 77), "OK");                           // a missing number
  }
}

TEST_F(Registers, GroupInUseByALiveMaterialIsKept) {
  ASSERT_EQ(Save(kGroup, Named("Usado")), "1");
  ASSERT_EQ(Save(kGroup, Named("Só excluídos")), "2");
  Exec("Insert into T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material) Values (42, 1, 'Parafuso');"
       "Insert into T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_Exclusao) "
       "Values (43, 2, 'Porca', '2024-01-02');");
  EXPECT_EQ(Delete(kGroup, 1, 3),
            "Este grupo está sendo utilizado no cadastro de materiais\rpelo item 000042 (podendo haver outros).\r" +
                kStillUsed);
  EXPECT_EQ(Column(kGroup, "T06_Exclusao", 1), "<null>");
  EXPECT_EQ(Delete(kGroup, 2, 3), "OK");
  EXPECT_EQ(server_.OperatorLog().find("Exclui --> "), std::string::npos) << server_.Stderr();
}

TEST_F(Registers, SectorInUseByALiveUserIsKept) {
  ASSERT_EQ(Save(kSector, Named("Almoxarifado")), "1");
  ASSERT_EQ(Save(kSector, Named("Compras")), "2");
  Exec("Insert into T01_USUA (T01_Usuario, T01_NumSetor) Values ('maria', 1);"
       "Insert into T01_USUA (T01_Usuario, T01_NumSetor, T01_Exclusao) Values ('jose', 2, '2024-01-02');");
  EXPECT_EQ(Delete(kSector, 1, 3),
            "Este Setor está sendo utilizado no cadastro de usuários\rpor maria (podendo haver outros).\r" + kStillUsed);
  EXPECT_EQ(Column(kSector, "T09_Exclusao", 1), "<null>");
  EXPECT_EQ(Delete(kSector, 2, 3), "OK");
  EXPECT_EQ(server_.OperatorLog().find("Exclui --> "), std::string::npos) << server_.Stderr();
}

TEST_F(Registers, CostCentreInUseByALiveOutputIsKeptAndLogged) {
  ASSERT_EQ(Save(kCostCentre, Named("Produção")), "1");
  ASSERT_EQ(Save(kCostCentre, Named("Manutenção")), "2");
  Exec("Insert into T16_SAI1 (T16_NumCC) Values (1);"
       "Insert into T16_SAI1 (T16_NumCC, T16_Exclusao) Values (2, '2024-01-02');");
  const std::string refusal = "Este centro de custo está sendo utilizado no cadastro de saídas.\r" + kStillUsed;
  EXPECT_EQ(Delete(kCostCentre, 1, 3), refusal);
  EXPECT_EQ(Column(kCostCentre, "T07_Exclusao", 1), "<null>");
  EXPECT_NE(server_.OperatorLog().find("Exclui --> " + refusal), std::string::npos) << server_.Stderr();
  EXPECT_EQ(Delete(kCostCentre, 2, 3), "OK");
}

TEST_F(Registers, SupplierOnALiveOrderOrEntryIsKept) {
  ASSERT_EQ(Save(kSupplier, Named("Pedido virou entrada")), "1");
  ASSERT_EQ(Save(kSupplier, Named("Com entrada")), "2");
  ASSERT_EQ(Save(kSupplier, Named("Só excluídos")), "3");
  Exec("Insert into T10_PED1 (T10_NumFornec, T10_VirouEntrada) Values (1, '2024-03-01');"
       "Insert into T12_ENT1 (T12_NumFornec, T12_NumPedido) Values (1, 1);"
       "Insert into T12_ENT1 (T12_NumFornec) Values (2);"
       "Insert into T10_PED1 (T10_NumFornec, T10_Exclusao) Values (3, '2024-01-02');"
       "Insert into T12_ENT1 (T12_NumFornec, T12_Exclusao) Values (3, '2024-01-02');");
  EXPECT_EQ(Delete(kSupplier, 1, 3),
            "Este Fornecedor está sendo utilizado no cadastro de pedidos.\r" + kStillUsed);
  EXPECT_EQ(Delete(kSupplier, 2, 3),
            "Este Fornecedor está sendo utilizado no cadastro de entradas.\r" + kStillUsed);
  EXPECT_EQ(QueryOne("Select count(*) From T08_FORN Where T08_Exclusao is Null"), "3");
  EXPECT_EQ(Delete(kSupplier, 3, 3), "OK");
  EXPECT_EQ(QueryOne("Select count(*) From T08_FORN Where T08_Exclusao is Null"), "2");
  EXPECT_EQ(server_.OperatorLog().find("Exclui --> "), std::string::npos) << server_.Stderr();
}

// Every concurrent save of one name answers either the new number or the
// duplicate refusal, and the name is stored once.
TEST_F(Registers, ConcurrentSavesOfOneNameStoreItOnce) {
  constexpr int kClients = 16;
  constexpr int kRounds = 12;
  for (int round = 1; round <= kRounds; ++round) {
    const std::string name = "Paralelo " + std::to_string(round);
    SCOPED_TRACE(name);
    std::vector<std::string> answers(kClients);
    const std::string table = RowTable(kGroup, Named(name));
    {
      std::vector<std::jthread> clients;
      for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] { answers[static_cast<std::size_t>(i)] = Save(kGroup, table); });
    }
    int stored = 0;
    for (const std::string& answer : answers) {
      if (answer == std::to_string(round))
        ++stored;
      else
        EXPECT_EQ(answer, kSaveFailure + kGroup.duplicate);
    }
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(QueryOne("Select count(*) From T06_GRUP Where T06_Grupo = '" + name + "'"), "1");
  }
}

}  // namespace
}  // namespace quelvar::test
