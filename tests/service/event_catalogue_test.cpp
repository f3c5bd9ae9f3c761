// The catalogue: groups in component order, every event and its declared
// parameters, the event list text, and the completion of a request's list.

#include "service/event_catalogue.h"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/text_codec.h"

namespace quelvar::service {
namespace {

using enum TObjectDirection;
using enum TObjectValue;

const EventCatalogue& Catalogue() {
  static const EventCatalogue catalogue = BuildEventCatalogue();
  return catalogue;
}

TEST(EventCatalogue, FourteenGroupsInComponentOrder) {
  std::vector<std::string> names;
  for (const auto& group : Catalogue().Groups()) names.push_back(group.Name());
  EXPECT_EQ(names, (std::vector<std::string>{
                       "DWServerEventsT03_CONF", "DWServerEventsT01_USUA", "DWServerEventsFerramentas",
                       "DWServerEventsT06_GRUP", "DWServerEventsT07_CENC", "DWServerEventsT09_SETO",
                       "DWServerEventsT04_MATE", "DWServerEventsT08_FORN", "DWServerEventsT05_LOTE",
                       "DWServerEventsT10_PEDI", "DWServerEventsT14_REQU", "DWServerEventsT12_ENTR",
                       "DWServerEventsT16_SAID", "DWServerEventsT18_PERD"}));
}

TEST(EventCatalogue, EveryGroupHoldsItsEventsInOrder) {
  const std::vector<std::string> document = {"Consulta", "ConsultaMaster", "ConsultaDetail", "Grava", "Exclui"};
  const std::vector<std::string> simple = {"Consulta", "Grava", "Exclui"};
  std::vector<std::string> outputs = document;
  outputs.push_back("CalculaCusto");
  const std::map<std::string, std::vector<std::string>> expected = {
      {"DWServerEventsT03_CONF", {"Consulta", "Grava", "ServerTime"}},
      {"DWServerEventsT01_USUA",
       {"ValidaUsuario", "ConsultaAcessos", "Consulta", "Exclui", "Grava", "NovaSenha", "GravaAcessos"}},
      {"DWServerEventsFerramentas",
       {"Backup", "Restore", "ListaArquivosBackups", "Reordena", "QueryDinamica", "AtualizaServidor", "Sobre"}},
      {"DWServerEventsT06_GRUP", simple},
      {"DWServerEventsT07_CENC", simple},
      {"DWServerEventsT09_SETO", simple},
      {"DWServerEventsT08_FORN", simple},
      {"DWServerEventsT04_MATE", {"Consulta", "Consulta2", "Grava", "Exclui"}},
      {"DWServerEventsT05_LOTE",
       {"Consulta", "ConsultaLookupLote", "ConsultaLookLote2", "ConsultaLoteMaterial", "ConsultaPrimeiroLote", "Grava",
        "Exclui"}},
      {"DWServerEventsT10_PEDI", document},
      {"DWServerEventsT12_ENTR", document},
      {"DWServerEventsT14_REQU", document},
      {"DWServerEventsT16_SAID", outputs},
      {"DWServerEventsT18_PERD", document},
  };
  for (const auto& group : Catalogue().Groups()) {
    std::vector<std::string> events;
    for (const auto& event : group.Events()) {
      events.push_back(event.Name);
      EXPECT_TRUE(event.Routes.Has(TDWRoute::crAll)) << group.Name() << "." << event.Name;
      EXPECT_EQ(event.JsonMode, TJsonMode::jmEnvelope);
      for (const auto& p : event.DWParams) EXPECT_TRUE(p.encoded) << group.Name() << "." << event.Name << "." << p.name;
    }
    ASSERT_TRUE(expected.count(group.Name())) << group.Name();
    EXPECT_EQ(events, expected.at(group.Name())) << group.Name();
  }
}

// One row per delete event: its Flag default and its key parameter.
TEST(EventCatalogue, DeleteEventsDeclareTheirFlagAndKey) {
  struct Row {
    std::string group;
    std::string flag;
    std::string key;
    TObjectDirection keyDirection;
  };
  const std::vector<Row> rows = {
      {"DWServerEventsT01_USUA", "1", "NumFunc", odOUT},  {"DWServerEventsT04_MATE", "4", "NumMaterial", odIN},
      {"DWServerEventsT05_LOTE", "5", "NumLote", odIN},   {"DWServerEventsT06_GRUP", "6", "NumGrupo", odIN},
      {"DWServerEventsT07_CENC", "7", "NumCC", odIN},     {"DWServerEventsT08_FORN", "8", "NumFornec", odIN},
      {"DWServerEventsT09_SETO", "9", "NumSetor", odIN},  {"DWServerEventsT10_PEDI", "10", "NumPedido", odIN},
      {"DWServerEventsT12_ENTR", "12", "NumEntrada", odIN}, {"DWServerEventsT14_REQU", "14", "NumRequis", odIN},
      {"DWServerEventsT16_SAID", "16", "NumSaida", odIN}, {"DWServerEventsT18_PERD", "18", "NumPerda", odIN},
  };
  for (const Row& row : rows) {
    const auto match = Catalogue().FindEvent(row.group, "Exclui");
    ASSERT_NE(match.event, nullptr) << row.group;
    const auto& params = match.event->DWParams;
    ASSERT_EQ(params.size(), 4u) << row.group;
    EXPECT_EQ(params[0].name, "Flag");
    EXPECT_EQ(params[0].valueType, ovInteger);
    EXPECT_EQ(params[0].defaultValue, row.flag) << row.group;
    std::map<std::string, const DeclaredParam*> byName;
    for (const auto& p : params) byName[p.name] = &p;
    ASSERT_TRUE(byName.count(row.key)) << row.group;
    EXPECT_EQ(byName[row.key]->direction, row.keyDirection) << row.group;
    EXPECT_EQ(byName[row.key]->valueType, ovInteger);
    ASSERT_TRUE(byName.count("NumUsuario"));
    EXPECT_EQ(byName["NumUsuario"]->valueType, ovInteger);
    EXPECT_EQ(params[3].name, "Resposta");
    EXPECT_EQ(params[3].direction, odOUT);
  }
}

TEST(EventCatalogue, EventListTextOfTheConfigurationGroupIsExact) {
  const auto* group = Catalogue().FirstQualifyingGroup("DWServerEventsT03_CONF");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->EventListText(),
            "{\"serverevents\":["
            "{\"eventname\":\"Consulta\", \"jsonmode\":\"jmEnvelope\", \"params\":["
            "{\"typeobject\":\"toParam\", \"objectdirection\":\"odOUT\", \"objectvalue\":\"ovString\", "
            "\"paramname\":\"Tabela\", \"encoded\":\"true\", \"default\":\"\"}]}, "
            "{\"eventname\":\"Grava\", \"jsonmode\":\"jmEnvelope\", \"params\":["
            "{\"typeobject\":\"toParam\", \"objectdirection\":\"odIN\", \"objectvalue\":\"ovString\", "
            "\"paramname\":\"Tabela\", \"encoded\":\"true\", \"default\":\"\"}, "
            "{\"typeobject\":\"toParam\", \"objectdirection\":\"odOUT\", \"objectvalue\":\"ovString\", "
            "\"paramname\":\"Resposta\", \"encoded\":\"true\", \"default\":\"\"}]}, "
            "{\"eventname\":\"ServerTime\", \"jsonmode\":\"jmEnvelope\", \"params\":["
            "{\"typeobject\":\"toParam\", \"objectdirection\":\"odOUT\", \"objectvalue\":\"ovDateTime\", "
            "\"paramname\":\"Resultado\", \"encoded\":\"true\", \"default\":\"\"}]}"
            "]}");
}

TEST(EventCatalogue, EventListTextCarriesDefaultsAsEncodedText) {
  const auto* group = Catalogue().FirstQualifyingGroup("DWServerEventsT04_MATE");
  ASSERT_NE(group, nullptr);
  const std::string text = group->EventListText();
  EXPECT_NE(text.find("{\"eventname\":\"Exclui\", \"jsonmode\":\"jmEnvelope\", \"params\":["
                      "{\"typeobject\":\"toParam\", \"objectdirection\":\"odIN\", \"objectvalue\":\"ovInteger\", "
                      "\"paramname\":\"Flag\", \"encoded\":\"true\", \"default\":\"NA==\"}, "),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("  "), std::string::npos);
}

TEST(EventCatalogue, LookupRules) {
  struct Case {
    std::string group, event, foundGroup;
  };
  const std::vector<Case> cases = {
      {"", "Consulta", "DWServerEventsT03_CONF"},
      {"dwservereventst06_grup", "Consulta", "DWServerEventsT06_GRUP"},
      {"tdm.DWSERVEREVENTST04_MATE", "consulta", "DWServerEventsT04_MATE"},
      {"", "CONSULTA2", "DWServerEventsT04_MATE"},
      {"", "CalculaCusto", "DWServerEventsT16_SAID"},
      {"", "sobre", "DWServerEventsFerramentas"},
      {"Foo", "Consulta", ""},
      {"DWServerEventsT04_MATE", "Sobre", ""},
      {"TDM.", "Consulta", ""},
      {"", "Nada", ""},
  };
  for (const Case& c : cases) {
    const auto match = Catalogue().FindEvent(c.group, c.event);
    EXPECT_EQ(match.group ? match.group->Name() : std::string(), c.foundGroup) << c.group << "/" << c.event;
  }
}

TEST(CreateDWParams, AddsMissingDeclaredParametersInOrderWithDefaults) {
  const auto* group = Catalogue().FirstQualifyingGroup("DWServerEventsT04_MATE");
  TDWParams params;
  params.vEncoding = TEncodeSelect::esASCII;
  TJSONParam& sent = params.AddNew();  // sent by the client, declared differently
  sent.SetParamName("NumMaterial");
  sent.SetDirection(odOUT);
  sent.SetAsString("12");
  TJSONParam& extra = params.AddNew();  // not declared: stays
  extra.SetParamName("Extra");
  extra.SetDirection(odIN);

  group->CreateDWParams("exclui", params);
  std::vector<std::string> names;
  for (int i = 0; i < params.Count(); ++i) names.push_back(params.GetRec(i)->ParamName());
  EXPECT_EQ(names, (std::vector<std::string>{"NUMMATERIAL", "EXTRA", "FLAG", "NUMUSUARIO", "RESPOSTA"}));
  EXPECT_EQ(params.Item("NumMaterial").Direction(), odOUT);
  EXPECT_EQ(params.Item("NumMaterial").ValueType(), ovString);
  EXPECT_EQ(params.Item("Flag").GetAsInteger(), 4);
  EXPECT_EQ(params.Item("Flag").Direction(), odIN);
  EXPECT_EQ(params.Item("NumUsuario").ValueType(), ovInteger);
  EXPECT_TRUE(params.Item("NumUsuario").IsNull());
  EXPECT_EQ(params.Item("Resposta").Direction(), odOUT);
  EXPECT_TRUE(params.Item("Resposta").Encoded());
  EXPECT_EQ(params.Item("Resposta").ToJSON(),
            "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", \"ValueType\":\"ovString\", "
            "\"RESPOSTA\":null}");
}

TEST(CreateDWParams, ABlankValueSentByTheClientKeepsItsBlank) {
  const auto* group = Catalogue().FirstQualifyingGroup("DWServerEventsT06_GRUP");
  TDWParams params;
  TJSONParam& flag = params.AddNew();
  flag.SetParamName("flag");
  flag.SetDirection(odIN);
  flag.SetEncoded(false);
  group->CreateDWParams("Exclui", params);
  EXPECT_EQ(params.Item("Flag").GetAsString(), "");
  EXPECT_EQ(params.Item("Flag").GetAsInteger(), 0);
}

TEST(TDWRoutes, AcceptanceAndMethodsText) {
  const TDWRoutes all{TDWRoute::crAll};
  const TDWRoutes some{TDWRoute::crDelete, TDWRoute::crGet, TDWRoute::crPatch};
  const TDWRoutes none;
  EXPECT_TRUE(all.Accepts(RequestType::Patch));
  EXPECT_TRUE(some.Accepts(RequestType::Get));
  EXPECT_FALSE(some.Accepts(RequestType::Post));
  EXPECT_FALSE(none.Accepts(RequestType::Get));
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(some.MethodsText(), "GET, PATCH, DELETE");
  EXPECT_EQ(all.MethodsText(), "GET, POST, PUT, PATCH, DELETE");
}

}  // namespace
}  // namespace quelvar::service
