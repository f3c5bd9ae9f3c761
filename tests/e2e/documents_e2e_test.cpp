// Orders, entries, requisitions, outputs and losses over HTTP, and the cost
// calculation of the output group, against a database the server creates
// from its built-in schema. Registers the documents join (suppliers,
// materials, users, cost centres) are put straight into the database file.

#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue_support.h"
#include "data/date_texts.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

using Row = std::vector<std::pair<std::string, Variant>>;

TDateTime Day(std::string_view text) { return ParseDisplayDateTime(text).value(); }
Variant D(std::string_view text) { return Variant::DateTime(Day(text)); }
Variant I(std::int64_t value) { return Variant::Integer(value); }
Variant F(double value) { return Variant::Float(value); }
Variant T(std::string text) { return Variant::Text(std::move(text)); }

// One column of every row of an answered record set, joined by "|".
using quelvar::test::Column;
std::string Column(MemTable&& t, std::string_view field) { return quelvar::test::Column(t, field); }

TFieldType TypeOf(const Variant& v) {
  switch (v.kind()) {
    case Variant::Kind::Integer: return TFieldType::ftInteger;
    case Variant::Kind::Float: return TFieldType::ftFloat;
    case Variant::Kind::DateTime: return TFieldType::ftDate;
    default: return TFieldType::ftWideString;
  }
}

// The dataset JSON a client sends: field types from the first row's values.
std::string Records(const std::vector<Row>& rows) {
  MemTable t;
  for (const auto& [name, value] : rows.at(0)) {
    const TFieldType type = TypeOf(value);
    t.AddFieldDef({.name = name, .type = type, .size = type == TFieldType::ftWideString ? 60 : 0});
  }
  t.Open();
  for (const Row& row : rows) {
    t.Append();
    for (const auto& [name, value] : row) t.SetValue(name, value);
    t.Post();
  }
  return DatasetText(t);
}

// What differs between the five kinds, for the behaviour they share.
struct Kind {
  std::string group;
  std::string numberParam;
  int flag;
  std::string numberField;  // header number, as answered in the lists
  std::string dateField;
  std::string searched;     // the text the filter searches (in the lists)
  std::string itemQtyField;
  // A header row for number n, dated `day`, with the kind's name of the searched text.
  Row (*header)(std::int64_t n, std::string_view day);
  // One item row moving `qty`.
  Row (*item)(double qty);
};

// Registers: supplier 1 "Alfa Ltda", 2 "Beta 0 SA"; materials 3 "cimento", 4 "Areia";
// users 5 "joana", 6 "Pedro"; cost centres 7 "Obra norte", 8 "Obra sul"; lots 10 and 11.
const Kind kKinds[] = {
    {"DWServerEventsT10_PEDI", "NumPedido", 10, "T10_NumPedido", "T10_Data", "T08_Fornecedor", "T11_Qtd",
     [](std::int64_t n, std::string_view day) {
       return Row{{"T10_NumPedido", I(n)}, {"T10_NumFornec", I(1)}, {"T10_Data", D(day)},
                  {"T10_Obs1", T("o1")},    {"T10_Obs2", T("o2")}};
     },
     [](double q) { return Row{{"T11_NumMaterial", I(3)}, {"T11_Qtd", F(q)}, {"T11_Valor", F(2.0)}}; }},
    {"DWServerEventsT12_ENTR", "NumEntrada", 12, "T12_NumEntrada", "T12_Data", "T08_Fornecedor", "T13_Qtd",
     [](std::int64_t n, std::string_view day) {
       return Row{{"T12_NumEntrada", I(n)}, {"T12_NumFornec", I(1)}, {"T12_NumPedido", I(0)}, {"T12_Data", D(day)},
                  {"T12_NF", T("nf")},       {"T12_Obs1", T("o1")},   {"T12_Obs2", T("o2")}};
     },
     [](double q) {
       return Row{{"T05_Lote", T("K1")}, {"T05_NumMaterial", I(3)}, {"T05_Validade", D("01/01/2030")},
                  {"T05_Local", T("P")}, {"T13_Qtd", F(q)},         {"T13_Valor", F(2.0)}};
     }},
    {"DWServerEventsT14_REQU", "NumRequis", 14, "T14_NumRequis", "T14_Data", "T01_Usuario", "T15_Qtd",
     [](std::int64_t n, std::string_view day) {
       return Row{{"T14_NumRequis", I(n)}, {"T14_NumUsuario", I(5)}, {"T14_Data", D(day)},
                  {"T14_Obs1", T("o1")},    {"T14_Obs2", T("o2")}};
     },
     [](double q) { return Row{{"T15_NumMaterial", I(3)}, {"T15_Qtd", F(q)}}; }},
    {"DWServerEventsT16_SAID", "NumSaida", 16, "T16_NumSaida", "T16_Data", "T07_CentroCusto", "T17_Qtd",
     [](std::int64_t n, std::string_view day) {
       return Row{{"T16_NumSaida", I(n)},   {"T16_NumCC", I(7)},   {"T16_NumRequis", I(0)}, {"T16_Data", D(day)},
                  {"T16_NF", T("nf")},       {"T16_NumUsuario", I(5)}, {"T16_Obs1", T("o1")}, {"T16_Obs2", T("o2")}};
     },
     [](double q) { return Row{{"T17_NumLote", I(10)}, {"T17_Qtd", F(q)}}; }},
    {"DWServerEventsT18_PERD", "NumPerda", 18, "T18_NumPerda", "T18_Data", "T04_Material", "T19_Qtd",
     [](std::int64_t n, std::string_view day) {
       return Row{{"T18_NumPerda", I(n)}, {"T18_Data", D(day)}, {"T18_Obs1", T("o1")}, {"T18_Obs2", T("o2")}};
     },
     [](double q) { return Row{{"T19_NumLote", I(10)}, {"T19_Qtd", F(q)}}; }},
};

class Documents : public ::testing::Test {
 protected:
  Documents() : server_(ServerProcess::FreshDatabase()) {}
  void SetUp() override {
    server_.StartWithFreshDatabase();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.OperatorLog();
    Exec("Insert into T08_FORN (T08_NumFornec, T08_Fornecedor) Values (1, 'Alfa Ltda'), (2, 'Beta 0 SA');"
         "Insert into T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_Unidade, T04_CodBarra) Values "
         "(3, 1, 'cimento', 'sc', '789'), (4, 1, 'Areia', 'm3', '790');"
         "Insert into T01_USUA (T01_NumUsuario, T01_Usuario) Values (5, 'joana'), (6, 'Pedro');"
         "Insert into T07_CENC (T07_NumCC, T07_CentroCusto) Values (7, 'Obra norte'), (8, 'Obra sul');"
         "Insert into T05_LOTE (T05_NumLote, T05_Lote, T05_NumMaterial) Values (10, 'L10', 3), (11, 'L11', 4)");
  }

  void Exec(const std::string& sql) { ExecSql(server_.databasePath(), sql); }
  std::string Sql(const std::string& sql) { return SqlText(server_.databasePath(), sql); }

  MemTable List(std::string_view group, std::string_view event, const std::string& filter,
                const std::string& data1 = "", const std::string& data2 = "") {
    return TableOf(CallEvent(server_.port(), group, event,
                             {{"Filtro", StringParam("Filtro", filter)},
                              {"Data1", StringParam("Data1", data1)},
                              {"Data2", StringParam("Data2", data2)},
                              {"Tabela", OutParam("Tabela")}}));
  }
  MemTable Items(std::string_view group, const std::string& number) {
    return TableOf(CallEvent(server_.port(), group, "ConsultaDetail",
                             {{"Filtro", StringParam("Filtro", number)}, {"Tabela", OutParam("Tabela")}}));
  }
  std::string Save(std::string_view group, const std::string& header, const std::string& items) {
    std::vector<std::pair<std::string, std::string>> params = {{"Tabela", StringParam("Tabela", header)},
                                                               {"Resposta", OutParam("Resposta")}};
    if (!items.empty()) params.push_back({"TabelaDet", StringParam("TabelaDet", items)});
    const EventReply reply = CallEvent(server_.port(), group, "Grava", params);
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }
  std::string Save(const Kind& k, std::int64_t n, std::string_view day, const std::vector<double>& quantities) {
    std::vector<Row> items;
    for (double q : quantities) items.push_back(k.item(q));
    return Save(k.group, Records({k.header(n, day)}), items.empty() ? "" : Records(items));
  }
  std::string Delete(const Kind& k, int number, int user) {
    const EventReply reply = CallEvent(server_.port(), k.group, "Exclui",
                                       {{"Flag", IntegerParam("Flag", k.flag)},
                                        {k.numberParam, IntegerParam(k.numberParam, number)},
                                        {"NumUsuario", IntegerParam("NumUsuario", user)},
                                        {"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }
  MemTable Cost(const std::string& material, const std::string& day) {
    return TableOf(CallEvent(server_.port(), "DWServerEventsT16_SAID", "CalculaCusto",
                             {{"NumMaterial", StringParam("NumMaterial", material)},
                              {"Data", StringParam("Data", day)},
                              {"Tabela", OutParam("Tabela")}}));
  }
  // Lot name, received, gone out and balance of the live lots, by number.
  std::string LotFigures() {
    std::string out;
    for (int lot : {10, 11, 12, 13}) {
      const std::string figures = Sql("Select T05_Lote || '/' || T05_Entradas || '/' || T05_Saidas From T05_LOTE "
                                      "Where T05_NumLote = " + std::to_string(lot));
      if (figures != "<none>") out += (out.empty() ? "" : "|") + figures;
    }
    return out;
  }

  ServerProcess server_;
};

TEST_F(Documents, EveryKindSavesListsReplacesItemsAndDeletes) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.group);
    const std::string first = Save(k, 0, "29/02/2024", {1, 2});
    const std::string second = Save(k, 0, "01/03/2024", {3});
    const std::string third = Save(k, 0, "31/03/2024", {4});
    const std::string fourth = Save(k, 0, "01/04/2024", {5});
    const std::string empty = Save(k, 0, "15/03/2024", {});  // a document without items
    ASSERT_EQ(first + " " + second + " " + third + " " + fourth + " " + empty, "1 2 3 4 5");

    // One row per item; a document without items only in the header list (losses list none there).
    EXPECT_EQ(List(k.group, "Consulta", "").RecordCount(), 5);
    EXPECT_EQ(List(k.group, "ConsultaMaster", "").RecordCount(), k.flag == 18 ? 4 : 5);
    // Both ends of the range included; Data2 ignored without Data1.
    MemTable march = List(k.group, "Consulta", "", "01/03/2024", "31/03/2024");
    EXPECT_EQ(Column(march, k.dateField), "01/03/2024|31/03/2024");
    EXPECT_EQ(List(k.group, "Consulta", "", "", "garbage").RecordCount(), 5);
    // A number selects one document; letters search the kind's text.
    MemTable one = List(k.group, "Consulta", second);
    EXPECT_EQ(Column(one, k.numberField), second);
    EXPECT_EQ(Column(one, k.itemQtyField), "3");
    const std::string part = k.flag == 10 || k.flag == 12 ? "lfa" : k.flag == 14 ? "OAN" : k.flag == 16 ? "norte" : "MENT";
    EXPECT_EQ(List(k.group, "ConsultaMaster", part).RecordCount(), k.flag == 18 ? 4 : 5);
    EXPECT_EQ(List(k.group, "ConsultaMaster", "sul").RecordCount(), 0);

    // An update replaces every item row; an empty item set removes them all.
    EXPECT_EQ(Save(k, std::stoi(first), "29/02/2024", {7}), first);
    EXPECT_EQ(Column(Items(k.group, first), k.itemQtyField), "7");
    EXPECT_EQ(Save(k, std::stoi(first), "29/02/2024", {}), first);
    EXPECT_EQ(Items(k.group, first).RecordCount(), 0);

    // Deleting hides the document; a number that does not exist answers "OK" as well.
    EXPECT_EQ(Delete(k, std::stoi(second), 6), "OK");
    EXPECT_EQ(Column(List(k.group, "Consulta", "", "01/03/2024", "31/03/2024"), k.dateField), "31/03/2024");
    EXPECT_EQ(List(k.group, "ConsultaMaster", second).RecordCount(), 0);
    EXPECT_EQ(Delete(k, 999, 6), "OK");
  }
}

// Items saved under a number without a header (as a save under a missing
// number does, or as a restore that took headers back leaves them) are never
// adopted by the next new document of that kind.
TEST_F(Documents, NewDocumentsAreNumberedAboveItemsWithoutAHeader) {
  const std::map<std::string, std::pair<std::string, std::string>> tables = {
      {"DWServerEventsT10_PEDI", {"T10_PED1", "T11_PED2"}}, {"DWServerEventsT12_ENTR", {"T12_ENT1", "T13_ENT2"}},
      {"DWServerEventsT14_REQU", {"T14_REQ1", "T15_REQ2"}}, {"DWServerEventsT16_SAID", {"T16_SAI1", "T17_SAI2"}},
      {"DWServerEventsT18_PERD", {"T18_PER1", "T19_PER2"}}};
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.group);
    const auto& [headerTable, itemTable] = tables.at(k.group);
    const std::string itemNumber = itemTable.substr(0, 4) + k.numberField.substr(4);
    const auto itemsOf = [&](int n) {
      return Sql("Select count(*) From " + itemTable + " Where " + itemNumber + " = " + std::to_string(n));
    };
    EXPECT_EQ(Save(k, 1, "05/03/2024", {1.0, 2.0}), "1");  // no header 1: the items stay alone
    EXPECT_EQ(Sql("Select count(*) From " + headerTable), "0");
    EXPECT_EQ(Save(k, 0, "06/03/2024", {3.0}), "2");
    EXPECT_EQ(itemsOf(1), "2");
    EXPECT_EQ(itemsOf(2), "1");
    EXPECT_EQ(Sql("Select count(*) From " + headerTable + " Where " + k.numberField + " = 1"), "0");
    EXPECT_EQ(Save(k, 0, "07/03/2024", {4.0}), "3");  // and the numbering goes on from there
  }
}

TEST_F(Documents, UnreadableListDatesAnswerNoRecordSetAndAreLogged) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.group);
    ASSERT_EQ(Save(k, 0, "10/03/2024", {1}), "1");
    for (const auto& [data1, data2] : std::vector<std::pair<std::string, std::string>>{
             {"01/03/2024", ""}, {"01/03/2024", "31-03-2024"}, {"xx", "31/03/2024"}, {"01/03/2024", "32/03/2024"}}) {
      for (std::string_view event : {"Consulta", "ConsultaMaster"}) {
        const EventReply reply = CallEvent(server_.port(), k.group, event,
                                           {{"Filtro", StringParam("Filtro", "")},
                                            {"Data1", StringParam("Data1", data1)},
                                            {"Data2", StringParam("Data2", data2)},
                                            {"Tabela", OutParam("Tabela")}});
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.Text("Tabela"), "") << event << " " << data1 << " " << data2;
      }
    }
  }
  EXPECT_NE(server_.OperatorLog().find("MasterDetEntrada --> \r'' is not a valid date"), std::string::npos)
      << server_.OperatorLog();
}

TEST_F(Documents, EntriesResolveLotsConvertOrdersAndMoveBalances) {
  const Kind& order = kKinds[0];
  ASSERT_EQ(Save(order, 0, "01/03/2024", {5}), "1");
  ASSERT_EQ(List(order.group, "ConsultaMaster", "").RecordCount(), 1);

  auto entryItem = [](std::string lot, std::int64_t material, std::string_view expiry, double qty, double value) {
    return Row{{"T05_Lote", T(std::move(lot))}, {"T05_NumMaterial", I(material)}, {"T05_Validade", D(expiry)},
               {"T05_Local", T("P1")},          {"T13_Qtd", F(qty)},              {"T13_Valor", F(value)}};
  };
  Row header = kKinds[1].header(0, "02/03/2024");
  header[2].second = I(1);  // from order 1
  // Two rows naming lot "N1" of material 4 share one new lot.
  ASSERT_EQ(Save(kKinds[1].group, Records({header}),
                 Records({entryItem("N1", 4, "01/01/2030", 10, 2), entryItem("N1", 4, "05/05/2031", 30, 4)})),
            "1");
  EXPECT_EQ(List(order.group, "Consulta", "").RecordCount(), 0);
  EXPECT_EQ(List(order.group, "ConsultaMaster", "").RecordCount(), 0);
  EXPECT_NE(Sql("Select T10_VirouEntrada From T10_PED1 Where T10_NumPedido = 1"), "<null>");
  EXPECT_EQ(Sql("Select Count(*) From T05_LOTE Where T05_Lote = 'N1'"), "1");
  const std::string n1 = Sql("Select T05_NumLote From T05_LOTE Where T05_Lote = 'N1'");
  EXPECT_EQ(Sql("Select T05_Validade || '/' || T05_Local From T05_LOTE Where T05_NumLote = " + n1),
            "2030-01-01/P1");

  MemTable rows = List(kKinds[1].group, "Consulta", "1");
  EXPECT_EQ(Column(rows, "T05_Lote"), "N1|N1");
  EXPECT_EQ(Column(rows, "T05_Saldo"), "40|40");
  EXPECT_EQ(Column(rows, "T13_Total"), "20|120");

  // Outputs and losses move the balance; the entry header list shows what went out.
  Row outHeader = kKinds[3].header(0, "03/03/2024");
  ASSERT_EQ(Save(kKinds[3].group, Records({outHeader}), Records({{{"T17_NumLote", I(std::stoi(n1))}, {"T17_Qtd", F(6)}}})),
            "1");
  ASSERT_EQ(Save(kKinds[4].group, Records({kKinds[4].header(0, "04/03/2024")}),
                 Records({{{"T19_NumLote", I(std::stoi(n1))}, {"T19_Qtd", F(1.5)}}})),
            "1");
  EXPECT_EQ(Column(List(kKinds[1].group, "ConsultaMaster", ""), "T12_TotalSaidas"), "15");  // lot N1 is on two rows
  EXPECT_EQ(Column(Items(kKinds[1].group, "1"), "T05_Saldo"), "32,5|32,5");
  EXPECT_EQ(Delete(kKinds[3], 1, 5), "OK");
  EXPECT_EQ(Column(Items(kKinds[1].group, "1"), "T05_Saldo"), "38,5|38,5");
  EXPECT_NE(Sql("Select T17_Exclusao From T17_SAI2 Where T17_NumSaida = 1"), "<null>");

  // A third entry reuses the live lot (its expiry unchanged); after the lot is deleted a new one is made.
  ASSERT_EQ(Save(kKinds[1].group, Records({kKinds[1].header(0, "05/03/2024")}),
                 Records({entryItem("N1", 4, "09/09/2039", 1, 1)})),
            "2");
  EXPECT_EQ(Sql("Select Group_Concat(T13_NumLote) From T13_ENT2 Where T13_NumEntrada = 2"), n1);
  EXPECT_EQ(Sql("Select T05_Validade From T05_LOTE Where T05_NumLote = " + n1), "2030-01-01");
  Exec("Update T05_LOTE Set T05_Exclusao = '2024-03-06' Where T05_NumLote = " + n1);
  ASSERT_EQ(Save(kKinds[1].group, Records({kKinds[1].header(0, "07/03/2024")}),
                 Records({entryItem("N1", 4, "09/09/2039", 1, 1)})),
            "3");
  EXPECT_EQ(Sql("Select Count(*) From T05_LOTE Where T05_Lote = 'N1' and T05_Exclusao is Null"), "1");
  EXPECT_NE(Sql("Select T13_NumLote From T13_ENT2 Where T13_NumEntrada = 3"), n1);

  // Deleting an entry marks its items; the order stays converted.
  EXPECT_EQ(Delete(kKinds[1], 1, 5), "OK");
  EXPECT_EQ(Sql("Select Count(*) From T13_ENT2 Where T13_NumEntrada = 1 and T13_Exclusao is not Null"), "2");
  EXPECT_EQ(Sql("Select T12_ExcluidoPor From T12_ENT1 Where T12_NumEntrada = 1"), "5");
  EXPECT_EQ(List(order.group, "ConsultaMaster", "").RecordCount(), 0);
}

TEST_F(Documents, FailedEntrySaveLeavesNothingBehind) {
  ASSERT_EQ(Save(kKinds[0], 0, "01/03/2024", {5}), "1");
  Row header = kKinds[1].header(0, "02/03/2024");
  header[2].second = I(1);
  const Row good = {{"T05_Lote", T("X1")}, {"T05_NumMaterial", I(3)}, {"T05_Validade", D("01/01/2030")},
                    {"T05_Local", T("P")},  {"T13_Qtd", T("10")},     {"T13_Valor", T("2")}};
  Row bad = good;
  bad[0].second = T("X2");
  bad[4].second = T("dez");
  const std::string answer = Save(kKinds[1].group, Records({header}), Records({good, bad}));
  EXPECT_EQ(answer.rfind(kSaveFailure, 0), 0u) << answer;
  EXPECT_NE(answer.find("dez"), std::string::npos) << answer;
  EXPECT_EQ(Sql("Select Count(*) From T12_ENT1"), "0");
  EXPECT_EQ(Sql("Select Count(*) From T13_ENT2"), "0");
  EXPECT_EQ(Sql("Select Count(*) From T05_LOTE Where T05_Lote like 'X%'"), "0");
  EXPECT_EQ(Sql("Select T10_VirouEntrada From T10_PED1"), "<null>");
  // An item set without a lot name fails the same way.
  const std::string missing =
      Save(kKinds[1].group, Records({header}), Records({{{"T05_NumMaterial", I(3)}, {"T13_Qtd", F(1)}}}));
  EXPECT_EQ(missing, kSaveFailure + "Field 'T05_Lote' not found");
  EXPECT_EQ(Sql("Select Count(*) From T12_ENT1"), "0");
}

TEST_F(Documents, ConcurrentEntrySavesShareOneNewLot) {
  const std::string header = Records({kKinds[1].header(0, "02/03/2024")});
  const std::string items = Records({{{"T05_Lote", T("C1")}, {"T05_NumMaterial", I(3)}, {"T05_Validade", D("01/01/2030")},
                                      {"T05_Local", T("P")},  {"T13_Qtd", F(1)},        {"T13_Valor", F(1)}}});
  std::vector<std::string> answers(6);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < answers.size(); ++i)
    threads.emplace_back([&, i] {
      answers[i] = CallEvent(server_.port(), kKinds[1].group, "Grava",
                             {{"Tabela", StringParam("Tabela", header)},
                              {"TabelaDet", StringParam("TabelaDet", items)},
                              {"Resposta", OutParam("Resposta")}})
                       .Text("Resposta");
    });
  for (std::thread& t : threads) t.join();
  for (const std::string& a : answers) EXPECT_GT(std::atoi(a.c_str()), 0) << a;
  EXPECT_EQ(Sql("Select Count(*) From T05_LOTE Where T05_Lote = 'C1'"), "1");
  EXPECT_EQ(Sql("Select T05_Entradas From T05_LOTE Where T05_Lote = 'C1'"), "6.0");
}

TEST_F(Documents, OutputsSettleRequisitionsAndListUserZeroOnce) {
  ASSERT_EQ(Save(kKinds[2], 0, "01/03/2024", {2}), "1");
  ASSERT_EQ(Save(kKinds[2], 0, "02/03/2024", {3}), "2");
  Row header = kKinds[3].header(0, "03/03/2024");
  header[2].second = I(2);              // settles requisition 2
  header[5].second = I(0);              // no user
  const std::string items = Records({kKinds[3].item(1)});
  ASSERT_EQ(Save(kKinds[3].group, Records({header}), items), "1");
  EXPECT_EQ(Column(List(kKinds[2].group, "ConsultaMaster", ""), "T14_NumRequis"), "1");
  EXPECT_EQ(Column(List(kKinds[2].group, "Consulta", ""), "T14_NumRequis"), "1");
  // An update or a delete of the output leaves the requisition settled.
  header[0].second = I(1);
  ASSERT_EQ(Save(kKinds[3].group, Records({header}), items), "1");
  EXPECT_EQ(Sql("Select T16_NumRequis || '/' || T16_NumUsuario From T16_SAI1"), "2/0");

  ASSERT_EQ(Save(kKinds[3], 0, "04/03/2024", {2}), "2");  // user 5
  for (std::string_view event : {"Consulta", "ConsultaMaster"}) {
    MemTable t = List(kKinds[3].group, event, "");
    EXPECT_EQ(Column(t, "T16_NumSaida"), "1|2") << event;
    std::string users;
    for (t.First(); !t.Eof(); t.Next()) users += "[" + t.AsString("T01_Usuario") + "]";
    EXPECT_EQ(users, "[][joana]") << event;
  }
  Exec("Update T16_SAI1 Set T16_NumUsuario = 99 Where T16_NumSaida = 2");  // a user not registered
  EXPECT_EQ(Column(List(kKinds[3].group, "ConsultaMaster", ""), "T16_NumSaida"), "1");
  EXPECT_EQ(Delete(kKinds[3], 1, 5), "OK");
  EXPECT_EQ(Column(List(kKinds[2].group, "ConsultaMaster", ""), "T14_NumRequis"), "1");
}

TEST_F(Documents, LossHeaderListHasOneRowPerLossMaterialAndLot) {
  const std::string header = Records({kKinds[4].header(0, "01/03/2024")});
  const std::string items = Records({{{"T19_NumLote", I(10)}, {"T19_Qtd", F(1)}},
                                     {{"T19_NumLote", I(10)}, {"T19_Qtd", F(2)}},
                                     {{"T19_NumLote", I(11)}, {"T19_Qtd", F(3)}}});
  ASSERT_EQ(Save(kKinds[4].group, header, items), "1");
  MemTable t = List(kKinds[4].group, "ConsultaMaster", "");
  EXPECT_EQ(Column(t, "T05_Lote"), "L11|L10");  // ordered by date, then material ignoring case
  EXPECT_EQ(List(kKinds[4].group, "Consulta", "").RecordCount(), 3);
  EXPECT_EQ(Column(Items(kKinds[4].group, "1"), "T04_Material"), "Areia|cimento|cimento");
  EXPECT_EQ(LotFigures(), "L10/0.0/3.0|L11/0.0/3.0");
  EXPECT_EQ(Delete(kKinds[4], 1, 5), "OK");
  EXPECT_EQ(LotFigures(), "L10/0.0/0.0|L11/0.0/0.0");
}

TEST_F(Documents, CostIsTheWeightedMeanOfLiveEntriesUpToTheDay) {
  auto entry = [&](std::string_view day, double qty, double value) {
    return Save(kKinds[1].group, Records({kKinds[1].header(0, day)}),
                Records({{{"T05_Lote", T("M")}, {"T05_NumMaterial", I(3)}, {"T05_Validade", D("01/01/2030")},
                          {"T05_Local", T("P")}, {"T13_Qtd", F(qty)},      {"T13_Valor", F(value)}}}));
  };
  auto cost = [&](const std::string& material, const std::string& day) {
    MemTable t = Cost(material, day);
    return t.RecordCount() == 1 ? t.AsString("qCustoMedio") : "<no row>";
  };
  EXPECT_EQ(cost("3", "10/03/2024"), "0");
  ASSERT_EQ(entry("01/03/2024", 0, 9), "1");
  EXPECT_EQ(cost("3", "10/03/2024"), "0");  // quantities of 0: no division failure
  ASSERT_EQ(entry("02/03/2024", 10, 2), "2");
  ASSERT_EQ(entry("10/03/2024", 30, 4), "3");
  ASSERT_EQ(entry("11/03/2024", 60, 100), "4");
  struct Case {
    std::string material, day, cost;
  } cases[] = {
      {"3", "10/03/2024", "3,5"},  {"3", "09/03/2024", "2"},       {"3", "11/03/2024", "61,4"},
      {"4", "11/03/2024", "0"},    {"abc", "11/03/2024", "0"},     {"3", "xx", "<no row>"},
      {"3", "", "<no row>"},
  };
  for (const Case& c : cases) EXPECT_EQ(cost(c.material, c.day), c.cost) << c.material << " " << c.day;
  EXPECT_EQ(Delete(kKinds[1], 3, 5), "OK");
  EXPECT_EQ(cost("3", "10/03/2024"), "2");
}

}  // namespace
}  // namespace quelvar::test
