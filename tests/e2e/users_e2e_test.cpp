// Users and their access rights over HTTP, against a database the server
// creates from its built-in schema.

#include <sqlite3.h>

#include <algorithm>
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

constexpr std::string_view kGroup = "DWServerEventsT01_USUA";
const std::string kSaveFailure = "Ocorreu um erro na gravação no banco de dados.\r";

struct User {
  std::string number;  // sent as text so that bad input can be sent too
  std::string name;
  std::string password;
  bool deactivated;
};

std::string Json(const MemTable& t) {
  TJSONValue holder;
  LoadFromDataset(holder, "temp", const_cast<MemTable&>(t), true);
  return holder.ToJSON();
}

std::string UserTable(const User& u, bool withPassword = true) {
  MemTable t;
  t.AddFieldDef({.name = "T01_NumUsuario", .type = TFieldType::ftWideString, .size = 20});
  t.AddFieldDef({.name = "T01_Usuario", .type = TFieldType::ftWideMemo});
  if (withPassword) t.AddFieldDef({.name = "T01_Senha", .type = TFieldType::ftWideMemo});
  t.AddFieldDef({.name = "T01_Desativado", .type = TFieldType::ftBoolean});
  t.Open();
  t.Append();
  t.SetValue("T01_NumUsuario", Variant::Text(u.number));
  t.SetValue("T01_Usuario", Variant::Text(u.name));
  if (withPassword) t.SetValue("T01_Senha", Variant::Text(u.password));
  t.SetValue("T01_Desativado", Variant::Boolean(u.deactivated));
  t.Post();
  return Json(t);
}

struct Right {
  int user;
  bool allowed;
  std::string action;
};

std::string RightsTable(const std::vector<Right>& rights) {
  MemTable t;
  t.AddFieldDef({.name = "NumUsuario", .type = TFieldType::ftInteger});
  t.AddFieldDef({.name = "Check", .type = TFieldType::ftBoolean});
  t.AddFieldDef({.name = "Opcao", .type = TFieldType::ftWideString, .size = 100});
  t.Open();
  for (const Right& r : rights) {
    t.Append();
    t.SetValue("NumUsuario", Variant::Integer(r.user));
    t.SetValue("Check", Variant::Boolean(r.allowed));
    t.SetValue("Opcao", Variant::Text(r.action));
    t.Post();
  }
  return Json(t);
}

std::string IntegerParam(std::string_view name, std::int32_t value) {
  TJSONParam p(TEncodeSelect::esASCII);
  p.SetParamName(name);
  p.SetDirection(TObjectDirection::odIN);
  p.SetEncoded(true);
  p.SetAsInteger(value);
  return p.ToJSON();
}

class Users : public ::testing::Test {
 protected:
  Users() : server_(ServerProcess::FreshDatabase()) {}
  void SetUp() override {
    server_.StartWithFreshDatabase();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.OperatorLog();
  }

  // Runs a statement on the database file directly (fixtures of other tables).
  void Exec(const std::string& sql) { ExecSql(server_.databasePath(), sql); }
  std::string QueryOne(const std::string& sql) { return SqlText(server_.databasePath(), sql); }

  std::string Call(std::string_view event, std::vector<std::pair<std::string, std::string>> params,
                   const std::string& out = "Resposta") {
    params.push_back({out, OutParam(out)});
    const EventReply reply = CallEvent(server_.port(), kGroup, event, params);
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text(out);
  }
  std::string Save(const std::string& table) { return Call("Grava", {{"Tabela", StringParam("Tabela", table)}}); }
  std::string Save(const User& u) { return Save(UserTable(u)); }
  std::string Login(const std::string& name, const std::string& password) {
    return Call("ValidaUsuario", {{"Usuario", StringParam("Usuario", name)}, {"Senha", StringParam("Senha", password)}});
  }
  std::string ChangePassword(const std::string& number, const std::string& current, const std::string& next) {
    return Call("NovaSenha", {{"NumUsuario", StringParam("NumUsuario", number)},
                              {"Senha1", StringParam("Senha1", current)},
                              {"Senha2", StringParam("Senha2", next)}});
  }
  std::string SaveRights(const std::string& table) {
    return Call("GravaAcessos", {{"Tabela", StringParam("Tabela", table)}});
  }
  MemTable Decode(const std::string& text) {
    MemTable t;
    TJSONValue holder;
    WriteToDataset(holder, text, t);
    return t;
  }
  std::vector<std::string> Column(MemTable t, const std::string& field) {
    std::vector<std::string> values;
    for (t.First(); !t.Eof(); t.Next()) values.push_back(t.AsString(field));
    return values;
  }
  std::vector<std::string> Names(const std::string& filter) {
    return Column(Decode(Call("Consulta", {{"Filtro", StringParam("Filtro", filter)}}, "Tabela")), "T01_Usuario");
  }
  std::vector<std::string> Rights(const std::string& number) {
    std::vector<std::string> actions = Column(
        Decode(Call("ConsultaAcessos", {{"NumUsuario", StringParam("NumUsuario", number)}}, "Tabela")), "T02_Acao");
    std::sort(actions.begin(), actions.end());
    return actions;
  }
  std::string Delete(int key, int user) {
    return Call("Exclui", {{"NumFunc", IntegerParam("NumFunc", key)}, {"NumUsuario", IntegerParam("NumUsuario", user)}});
  }

  ServerProcess server_;
};

TEST_F(Users, SaveAnswersTheNumberOrJaExiste) {
  EXPECT_EQ(Save(User{"0", "ana", "s1", false}), "1");
  EXPECT_EQ(Save(User{"-1", "Bruno", "s2", false}), "2");
  EXPECT_EQ(Save(User{"0", "ana", "outra", false}), "JaExiste");
  EXPECT_EQ(Save(User{"2", "ana", "s2", false}), "JaExiste");
  EXPECT_EQ(QueryOne("Select T01_Usuario From T01_USUA Where T01_NumUsuario = 2"), "Bruno");
  // Renaming to one's own name passes; the update writes password and flag.
  EXPECT_EQ(Save(User{"2", "Bruno", "nova", true}), "2");
  EXPECT_EQ(QueryOne("Select T01_Senha || '/' || T01_Desativado From T01_USUA Where T01_NumUsuario = 2"), "nova/1");
  // A new user keeps the flag sent.
  EXPECT_EQ(Save(User{"0", "Carla", "s3", true}), "3");
  EXPECT_EQ(QueryOne("Select T01_Desativado From T01_USUA Where T01_NumUsuario = 3"), "1");
  EXPECT_EQ(QueryOne("Select count(*) From T01_USUA"), "3");
  EXPECT_EQ(server_.OperatorLog().find("GravaUsuario --> "), std::string::npos) << server_.OperatorLog();
}

TEST_F(Users, BadUserRowsTakeTheFailurePathAndWriteNothing) {
  struct Case {
    std::string table;
    std::string answer;
  } cases[] = {
      {UserTable(User{"0", "ana", "s", false}, false), kSaveFailure + "Field 'T01_Senha' not found"},
      {UserTable(User{"x1", "ana", "s", false}), kSaveFailure + "'x1' is not a valid integer value"},
      {"[]", kSaveFailure + "Invalid JSON Data..."},
  };
  for (const Case& c : cases) EXPECT_EQ(Save(c.table), c.answer);
  EXPECT_EQ(QueryOne("Select count(*) From T01_USUA"), "0");
  EXPECT_NE(server_.OperatorLog().find("GravaUsuario --> \rField 'T01_Senha' not found"), std::string::npos);
}

TEST_F(Users, LoginNeedsALiveActiveUserWithTheExactPassword) {
  ASSERT_EQ(Save(User{"0", "ana", "Segredo", false}), "1");
  ASSERT_EQ(Save(User{"0", "bia", "b", true}), "2");
  ASSERT_EQ(Save(User{"0", "caio", "c", false}), "3");
  ASSERT_EQ(Delete(3, 1), "OK");
  struct Case {
    std::string name, password, answer;
  } cases[] = {
      {"ana", "Segredo", "1"}, {"ana", "segredo", "ERRO"}, {"ana", "Segredo ", "ERRO"}, {"Ana", "Segredo", "ERRO"},
      {"bia", "b", "ERRO"},    // deactivated
      {"caio", "c", "ERRO"},   // deleted
      {"ninguem", "", "ERRO"},
  };
  for (const Case& c : cases) EXPECT_EQ(Login(c.name, c.password), c.answer) << c.name << "/" << c.password;
}

TEST_F(Users, LoginFailureOnTheDatabaseIsAnsweredAndLogged) {
  Exec("Drop Table T01_USUA");
  EXPECT_EQ(Login("ana", "x"), "Ocorreu um erro na consulta no banco de dados.\r[SQLite] no such table: T01_USUA");
  EXPECT_NE(server_.OperatorLog().find("ValidaUsuario --> \r[SQLite] no such table: T01_USUA"), std::string::npos)
      << server_.OperatorLog();
}

TEST_F(Users, ListShowsLiveUsersSearchedByTheFilterAsReceived) {
  for (const char* name : {"mariana", "ana", "Bruno", "Luiz Ana", "Anabela"}) ASSERT_NE(Save(User{"0", name, "p", false}), "JaExiste");
  ASSERT_EQ(Save(User{"3", "Bruno", "p", true}), "3");  // deactivated users are listed
  ASSERT_EQ(Delete(5, 1), "OK");
  EXPECT_EQ(Names(""), (std::vector<std::string>{"ana", "Bruno", "Luiz Ana", "mariana"}));
  EXPECT_EQ(Names("  "), (std::vector<std::string>{"ana", "Bruno", "Luiz Ana", "mariana"}));
  EXPECT_EQ(Names("ana"), (std::vector<std::string>{"ana", "Luiz Ana", "mariana"}));
  EXPECT_EQ(Names(" ana"), (std::vector<std::string>{"Luiz Ana"}));
  EXPECT_EQ(Names("zz"), (std::vector<std::string>{}));
  MemTable t = Decode(Call("Consulta", {{"Filtro", StringParam("Filtro", "Bru")}}, "Tabela"));
  ASSERT_EQ(t.FieldCount(), 4);
  const char* expected[] = {"T01_NumUsuario", "T01_Usuario", "T01_Desativado", "T01_Senha"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(t.Fields()[static_cast<std::size_t>(i)].name, expected[i]);
  ASSERT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.AsInteger("T01_NumUsuario"), 3);
  EXPECT_TRUE(t.AsBoolean("T01_Desativado"));
  EXPECT_EQ(t.AsString("T01_Senha"), "p");
}

TEST_F(Users, DeleteMarksTheUserAndFreesTheName) {
  ASSERT_EQ(Save(User{"0", "ana", "p", false}), "1");
  ASSERT_EQ(Save(User{"0", "bia", "p", false}), "2");
  EXPECT_EQ(Delete(1, 2), "OK");
  EXPECT_EQ(QueryOne("Select (T01_Exclusao = date('now','localtime')) || '/' || T01_ExcluidoPor From T01_USUA "
                     "Where T01_NumUsuario = 1"),
            "1/2");
  EXPECT_EQ(Save(User{"0", "ana", "q", false}), "3");
  EXPECT_EQ(Delete(99, 2), "OK");
  // Without the key the declared output's unset value is used: no user is touched.
  EXPECT_EQ(Call("Exclui", {{"NumUsuario", IntegerParam("NumUsuario", 2)}}), "OK");
  EXPECT_EQ(QueryOne("Select count(*) From T01_USUA Where T01_Exclusao is Null"), "2");
  EXPECT_EQ(server_.OperatorLog().find("Exclui --> "), std::string::npos) << server_.OperatorLog();
}

TEST_F(Users, PasswordChangeChecksTheCurrentPassword) {
  ASSERT_EQ(Save(User{"0", "ana", "velha", false}), "1");
  EXPECT_EQ(ChangePassword("1", "errada", "nova"), "Senha Atual Incorreta.");
  EXPECT_NE(server_.OperatorLog().find("GravaNovaSenha --> Senha Atual Incorreta."), std::string::npos);
  EXPECT_EQ(ChangePassword("abc", "velha", "nova"), "'abc' is not a valid integer value");
  EXPECT_EQ(ChangePassword("2", "velha", "nova"), "Senha Atual Incorreta.");
  EXPECT_EQ(Login("ana", "velha"), "1");
  EXPECT_EQ(ChangePassword("1", "velha", "nova"), "OK");
  EXPECT_EQ(Login("ana", "velha"), "ERRO");
  EXPECT_EQ(Login("ana", "nova"), "1");
}

TEST_F(Users, AccessRightsAreReplacedAsAWhole) {
  ASSERT_EQ(SaveRights(RightsTable({{1, true, "Entradas"}, {1, false, "Saídas"}, {1, true, "Backup"}})), "OK");
  ASSERT_EQ(SaveRights(RightsTable({{2, true, "Perdas"}})), "OK");
  EXPECT_EQ(Rights("1"), (std::vector<std::string>{"Backup", "Entradas"}));
  ASSERT_EQ(SaveRights(RightsTable({{1, false, "Entradas"}, {1, true, "Saídas"}})), "OK");
  EXPECT_EQ(Rights("1"), (std::vector<std::string>{"Saídas"}));
  ASSERT_EQ(SaveRights(RightsTable({{1, false, "Entradas"}})), "OK");
  MemTable none = Decode(Call("ConsultaAcessos", {{"NumUsuario", StringParam("NumUsuario", "1")}}, "Tabela"));
  ASSERT_EQ(none.FieldCount(), 1);
  EXPECT_EQ(none.Fields()[0].name, "T02_Acao");
  EXPECT_EQ(none.RecordCount(), 0);
  EXPECT_EQ(Rights("2"), (std::vector<std::string>{"Perdas"}));
  // An empty record set clears the rights of user 0 only.
  Exec("Insert into T02_ACES (T02_NumUsuario, T02_Acao) Values (0, 'Orfa')");
  EXPECT_EQ(SaveRights(RightsTable({})), "OK");
  EXPECT_EQ(Rights("0"), (std::vector<std::string>{}));
  EXPECT_EQ(Rights("2"), (std::vector<std::string>{"Perdas"}));
}

TEST_F(Users, BadAccessInputFailsWithoutWriting) {
  ASSERT_EQ(SaveRights(RightsTable({{1, true, "Entradas"}})), "OK");
  EXPECT_EQ(Call("ConsultaAcessos", {{"NumUsuario", StringParam("NumUsuario", "um")}}, "Tabela"), "");
  EXPECT_NE(server_.OperatorLog().find("ConsultaAcessos --> \r'um' is not a valid integer value"), std::string::npos)
      << server_.OperatorLog();
  MemTable noAction;
  noAction.AddFieldDef({.name = "NumUsuario", .type = TFieldType::ftInteger});
  noAction.AddFieldDef({.name = "Check", .type = TFieldType::ftBoolean});
  noAction.Open();
  noAction.Append();
  noAction.SetValue("NumUsuario", Variant::Integer(1));
  noAction.SetValue("Check", Variant::Boolean(true));
  noAction.Post();
  EXPECT_EQ(SaveRights(Json(noAction)), kSaveFailure + "Field 'Opcao' not found");
  EXPECT_EQ(Rights("1"), (std::vector<std::string>{"Entradas"}));  // the delete was rolled back
}

// Every concurrent save of one new name answers the number or "JaExiste",
// and the name is stored once.
TEST_F(Users, ConcurrentSavesOfOneNameStoreItOnce) {
  constexpr int kClients = 16;
  constexpr int kRounds = 12;
  for (int round = 1; round <= kRounds; ++round) {
    const std::string name = "paralelo " + std::to_string(round);
    SCOPED_TRACE(name);
    std::vector<std::string> answers(kClients);
    const std::string table = UserTable(User{"0", name, "p", false});
    {
      std::vector<std::jthread> clients;
      for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] { answers[static_cast<std::size_t>(i)] = Save(table); });
    }
    EXPECT_EQ(std::count(answers.begin(), answers.end(), std::to_string(round)), 1);
    EXPECT_EQ(std::count(answers.begin(), answers.end(), "JaExiste"), kClients - 1)
        << testing::PrintToString(answers);
    EXPECT_EQ(QueryOne("Select count(*) From T01_USUA Where T01_Usuario = '" + name + "'"), "1");
  }
}

}  // namespace
}  // namespace quelvar::test
