// Routing and dispatch through the service's request handler: which group and
// event a request reaches, the reserved commands, the status page, the
// not-found answer and the counter of service modules.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/base64.h"
#include "formats/json_text.h"
#include "service/event_service.h"
#include "service/status_page.h"
#include "service/event_catalogue.h"
#include "service_test_support.h"

namespace quelvar::service {
namespace {

using test::ClientHeaders;
using test::GroupHolderText;
using test::MakeRequest;
using test::MultipartContentType;
using test::MultipartOf;
using test::ParamText;
using test::RecordingConsole;
using test::TempFolder;

class Routing : public ::testing::Test {
 protected:
  HttpReply Send(const HttpRequest& request) {
    HttpReply reply;
    service_.Handle(request, reply);
    return reply;
  }
  HttpReply Get(const std::string& target) { return Send(MakeRequest("GET", target, ClientHeaders())); }

  RecordingConsole console_;
  TempFolder folder_;
  // The server's catalogue with no handlers: every event that routing reaches
  // answers which group and event it was, whatever the business code does.
  EventService service_{console_, folder_.path(), std::make_shared<DatabasePath>("/nowhere/QuelvarDB.db3"),
                        BuildEventCatalogue(), HandlerRegistry{}};
};

std::string NotAvailable(const std::string& groupAndEvent) {
  return std::string(kEventNotAvailable) + groupAndEvent;
}

// Without handlers, events answer through the normal error path which group
// and event the request reached.
TEST_F(Routing, RequestsReachTheFirstQualifyingGroup) {
  struct Case {
    std::string target;
    std::string reached;
  };
  const std::vector<Case> cases = {
      {"/Consulta", "DWServerEventsT03_CONF.Consulta"},
      {"/consulta", "DWServerEventsT03_CONF.Consulta"},
      {"/CONSULTA", "DWServerEventsT03_CONF.Consulta"},
      {"/dwservereventst10_pedi/Consulta", "DWServerEventsT10_PEDI.Consulta"},
      {"/TDM.DWServerEventsT14_REQU/Consulta", "DWServerEventsT14_REQU.Consulta"},
      {"/tdm.dwservereventst12_entr/consultamaster", "DWServerEventsT12_ENTR.ConsultaMaster"},
      {"/CalculaCusto", "DWServerEventsT16_SAID.CalculaCusto"},
      {"/DWServerEventsT18_PERD/Exclui", "DWServerEventsT18_PERD.Exclui"},
      {"/a/b/DWServerEventsT12_ENTR/ConsultaDetail/", "DWServerEventsT12_ENTR.ConsultaDetail"},
  };
  for (const Case& c : cases) {
    const HttpReply reply = Get(c.target);
    EXPECT_EQ(reply.status, 500) << c.target;
    EXPECT_EQ(reply.body, NotAvailable(c.reached)) << c.target;
    EXPECT_EQ(reply.contentType, "application/json");
    EXPECT_EQ(reply.charset, "ansi");
  }
}

TEST_F(Routing, GroupFieldDecidesTheGroupWhateverThePath) {
  const struct {
    std::string target;
    std::string group;
    std::string reached;
  } cases[] = {
      {"/Consulta", "DWServerEventsT10_PEDI", "DWServerEventsT10_PEDI.Consulta"},
      {"/Consulta", "TDM.DWServerEventsT10_PEDI", "DWServerEventsT10_PEDI.Consulta"},
      {"/DWServerEventsT10_PEDI/Consulta", "TDM.DWServerEventsT14_REQU", "DWServerEventsT14_REQU.Consulta"},
  };
  for (const auto& c : cases) {
    HeaderList headers = ClientHeaders();
    headers.emplace_back("Content-Type", MultipartContentType());
    const HttpReply reply = Send(MakeRequest("POST", c.target, std::move(headers),
                                             MultipartOf({{"dwservereventname", GroupHolderText(c.group)},
                                                          {"Filtro", ParamText("FILTRO", "odIN", "A")}})));
    EXPECT_EQ(reply.body, NotAvailable(c.reached)) << c.target << " " << c.group;
  }
}

TEST_F(Routing, UnknownGroupOrEventIsNotFound) {
  for (const std::string target : {"/Foo/Consulta", "/Nada", "/DWServerEventsT04_MATE/Sobre"}) {
    const HttpReply reply = Get(target);
    EXPECT_EQ(reply.status, 404) << target;
    EXPECT_EQ(reply.body, "Event not found...") << target;
    EXPECT_EQ(reply.contentType, "application/json");
    EXPECT_EQ(reply.contentEncoding, "ansi");
  }
}

TEST_F(Routing, HandlerErrorIsEncodedWhenTheListHoldsDwencodestrings) {
  const HttpReply reply = Get("/DWServerEventsT18_PERD/Consulta?dwencodestrings=false");
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.body, EncodeText(NotAvailable("DWServerEventsT18_PERD.Consulta")));
}

TEST_F(Routing, StatusPageWhenNeitherGroupNorEventIsNamed) {
  const HttpReply reply = Get("/");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.contentType, "text/html");
  EXPECT_EQ(reply.charset, "ansi");
  EXPECT_EQ(reply.body,
            "<!DOCTYPE html><html><head><meta charset=\"UTF-8\"/><title>Quelvar Event Server</title></head><body>"
            "<h1>Quelvar Event Server</h1><h2>Server Status - Online</h2></body></html>");
  EXPECT_EQ(console_.count(), 1);
}

TEST_F(Routing, GroupWithoutEventIsNotFoundWithAnEmptyBody) {
  HeaderList headers = ClientHeaders();
  headers.emplace_back("Content-Type", MultipartContentType());
  const HttpReply reply = Send(MakeRequest(
      "POST", "/", std::move(headers), MultipartOf({{"dwservereventname", GroupHolderText("DWServerEventsT04_MATE")}})));
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.body, "");
}

TEST_F(Routing, EveryRequestThatReachesDispatchCountsOnce) {
  Get("/");                                   // status page
  Get("/GetServerEventsList");                // reserved command
  Get("/Nada");                               // not found
  Get("/DWServerEventsFerramentas/Sobre");    // event
  Get("/DWServerEventsT18_PERD/Consulta");    // event without handler
  EXPECT_EQ(console_.count(), 5);
  HeaderList headers = ClientHeaders();
  headers.emplace_back("Content-Type", MultipartContentType());
  const HttpReply failed =
      Send(MakeRequest("POST", "/Grava", std::move(headers), MultipartOf({{"Tabela", "{\"ObjectType\":"}})));
  EXPECT_EQ(failed.status, 500);
  EXPECT_EQ(console_.count(), 5);  // intake failed before any module was created
  EXPECT_TRUE(console_.entries().empty());
}

// ------------------------------------------------------------ reserved names

TEST_F(Routing, GetServerEventsListNamesTheFourteenGroups) {
  const HttpReply reply = Get("/DWServerEventsT04_MATE/getserverEVENTSlist");
  EXPECT_EQ(reply.status, 200);
  const std::string names =
      "TDM.DWServerEventsT03_CONF|TDM.DWServerEventsT01_USUA|TDM.DWServerEventsFerramentas|"
      "TDM.DWServerEventsT06_GRUP|TDM.DWServerEventsT07_CENC|TDM.DWServerEventsT09_SETO|"
      "TDM.DWServerEventsT04_MATE|TDM.DWServerEventsT08_FORN|TDM.DWServerEventsT05_LOTE|"
      "TDM.DWServerEventsT10_PEDI|TDM.DWServerEventsT14_REQU|TDM.DWServerEventsT12_ENTR|"
      "TDM.DWServerEventsT16_SAID|TDM.DWServerEventsT18_PERD";
  EXPECT_EQ(reply.body, "{\"PARAMS\":[{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", "
                        "\"ValueType\":\"ovString\", \"RESULT\":\"" +
                            EncodeText(names) + "\"}], \"RESULT\":[{\"MESSAGE\":\"OK\",  \"RESULT\":\"OK\"}]}");
}

TEST_F(Routing, GetPoolerListAnswersAnEmptyList) {
  const HttpReply reply = Get("/GetPoolerList");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body,
            "{\"PARAMS\":[{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", "
            "\"ValueType\":\"ovString\", \"RESULT\":null}], \"RESULT\":[{\"MESSAGE\":\"OK\",  \"RESULT\":\"OK\"}]}");
}

TEST_F(Routing, GetEventsAnswersTheGroupsEventList) {
  const HttpReply reply = Get("/DWServerEventsT03_CONF/GETEVENTS");
  EXPECT_EQ(reply.status, 200);
  const std::string list = service_.Catalogue().Groups()[0].EventListText();
  EXPECT_EQ(reply.body,
            "{\"PARAMS\":["
            "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"false\", \"ValueType\":\"ovBoolean\", "
            "\"ERROR\":false}, "
            "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", \"ValueType\":\"ovString\", "
            "\"MESSAGEERROR\":null}, "
            "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", \"ValueType\":\"ovString\", "
            "\"RESULT\":\"" +
                EncodeText("[" + list + "]") + "\"}], \"RESULT\":[{\"MESSAGE\":\"OK\",  \"RESULT\":\"OK\"}]}");
  // Without a group name: the first group.
  EXPECT_EQ(Get("/getevents").body, reply.body);
  // The users' group, by the path and by the field.
  const HttpReply users = Get("/TDM.DWServerEventsT01_USUA/GETEVENTS");
  EXPECT_NE(users.body.find(EncodeText("[" + service_.Catalogue().Groups()[1].EventListText() + "]")),
            std::string::npos);
}

TEST_F(Routing, GetEventsForAnUnknownGroupAnswersTheChoiceMessage) {
  const HttpReply reply = Get("/Foo/GETEVENTS");
  EXPECT_EQ(reply.status, 200);
  const std::string message =
      "There is more than one ServerEvent.\r\nChoose the desired ServerEvent in the ServerEventName property.";
  EXPECT_EQ(reply.body,
            "{\"PARAMS\":["
            "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"false\", \"ValueType\":\"ovBoolean\", "
            "\"ERROR\":true}, "
            "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", \"ValueType\":\"ovString\", "
            "\"MESSAGEERROR\":\"" +
                EncodeText(message) +
                "\"}, "
                "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", \"ValueType\":\"ovString\", "
                "\"RESULT\":null}], \"RESULT\":[\"" +
                message + "\"]}");
}

TEST_F(Routing, EchoPoolerFindsNoPooler) {
  const HttpReply reply = Get("/EchoPooler?Pooler=qualquer");
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.body, "{\"PARAMS\":[null], \"RESULT\":[{\"MESSAGE\":\"NOK\", \"RESULT\":\"Invalid Pooler Name...\"}]}");
}

TEST_F(Routing, DatabasePoolerCommands) {
  const std::vector<std::string> names = {
      "ExecuteCommandPureJSON", "ExecuteCommandJSON", "ApplyUpdates",   "ApplyUpdates_MassiveCache",
      "ProcessMassiveSQLCache", "GetTableNames",      "GetFieldNames",  "GetKeyFieldNames",
      "InsertMySQLReturnID_PARAMS", "InsertMySQLReturnID", "OpenDatasets"};
  for (const std::string& name : names) {
    const HttpReply missing = Get("/DWServerEventsT04_MATE/" + name + "?Pooler=p");
    EXPECT_EQ(missing.status, 500) << name;
    EXPECT_EQ(missing.body, "Invalid DWParam") << name;
    const HttpReply ok = Get("/" + name + "?Pooler=p&Error=false");
    EXPECT_EQ(ok.status, 200) << name;
    EXPECT_EQ(ok.body, "{\"PARAMS\":[null], \"RESULT\":[{\"MESSAGE\":\"OK\",  \"RESULT\":\"OK\"}]}") << name;
    const HttpReply nok = Get("/" + name + "?Error=true&Pooler=p");
    EXPECT_EQ(nok.body, "{\"PARAMS\":[null], \"RESULT\":[{\"MESSAGE\":\"NOK\", \"RESULT\":\"NOK\"}]}") << name;
  }
}

// ------------------------------------------------- a catalogue of our own

TDWEvent MakeEvent(std::string name, TDWRoutes routes, TJsonMode mode = TJsonMode::jmEnvelope) {
  TDWEvent event;
  event.Name = std::move(name);
  event.Routes = routes;
  event.JsonMode = mode;
  event.DWParams = {{"Resposta", TObjectDirection::odOUT, TObjectValue::ovString, true, std::nullopt}};
  return event;
}

class CustomRouting : public ::testing::Test {
 protected:
  static EventCatalogue Catalogue() {
    return EventCatalogue({TDWServerEvents(
        "DWServerEventsTeste", {MakeEvent("SoGet", {TDWRoute::crGet}), MakeEvent("SemRota", TDWRoutes{}),
                                MakeEvent("Texto", {TDWRoute::crAll}), MakeEvent("Puro", {TDWRoute::crAll}, TJsonMode::jmPureJSON),
                                MakeEvent("Falha", {TDWRoute::crAll}), MakeEvent("Vazia", {TDWRoute::crAll}),
                                MakeEvent("Estranha", {TDWRoute::crAll})})});
  }
  static HandlerRegistry Handlers() {
    HandlerRegistry::Builder builder;
    builder.Add("DWServerEventsTeste", "SoGet", [](TDM&, TDWParams& p, std::string&) { p.Item("Resposta").SetAsString("ok"); });
    builder.Add("DWServerEventsTeste", "Texto", [](TDM&, TDWParams&, std::string& r) { r = "Hello"; });
    builder.Add("DWServerEventsTeste", "Puro", [](TDM&, TDWParams&, std::string& r) { r = "[1,2]"; });
    builder.Add("DWServerEventsTeste", "Falha",
                [](TDM& dm, TDWParams&, std::string&) {
                  dm.Log("Falha --> \rmotivo");
                  throw std::runtime_error("motivo da falha");
                });
    builder.Add("DWServerEventsTeste", "Vazia", [](TDM&, TDWParams&, std::string& r) { r = "   "; });
    builder.Add("DWServerEventsTeste", "Estranha", [](TDM&, TDWParams&, std::string&) { throw 42; });
    return std::move(builder).Build();
  }
  HttpReply Send(std::string_view method, const std::string& target) {
    HttpReply reply;
    service_.Handle(MakeRequest(method, target, ClientHeaders()), reply);
    return reply;
  }

  RecordingConsole console_;
  TempFolder folder_;
  EventService service_{console_, folder_.path(), std::make_shared<DatabasePath>(""), Catalogue(), Handlers()};
};

TEST_F(CustomRouting, RouteCheck) {
  EXPECT_EQ(Send("GET", "/SoGet").status, 200);
  const HttpReply refused = Send("POST", "/SoGet");
  EXPECT_EQ(refused.status, 403);
  EXPECT_EQ(refused.body, "Request rejected. Acceptable HTTP methods: GET");
  const HttpReply noRoute = Send("GET", "/SemRota");
  EXPECT_EQ(noRoute.status, 500);
  EXPECT_EQ(noRoute.body, "Acceptable HTTP methods not defined on server");
}

TEST_F(CustomRouting, ResultTextsAndModes) {
  EXPECT_EQ(Send("GET", "/Texto").body,
            "{\"PARAMS\":[{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", "
            "\"ValueType\":\"ovString\", \"RESPOSTA\":null}], \"RESULT\":[\"Hello\"]}");
  EXPECT_EQ(Send("GET", "/Puro").body, "[1,2]");
  EXPECT_EQ(Send("GET", "/Vazia").body,
            "{\"PARAMS\":[{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", "
            "\"ValueType\":\"ovString\", \"RESPOSTA\":null}], \"RESULT\":[{\"MESSAGE\":\"OK\",  \"RESULT\":\"OK\"}]}");
}

TEST_F(CustomRouting, HandlerFailuresAreStatus500WithTheirMessage) {
  const HttpReply failed = Send("GET", "/Falha");
  EXPECT_EQ(failed.status, 500);
  EXPECT_EQ(failed.body, "motivo da falha");
  EXPECT_EQ(console_.entries(), std::vector<std::string>{"Falha --> \rmotivo"});
  const HttpReply odd = Send("GET", "/Estranha");
  EXPECT_EQ(odd.status, 500);
  EXPECT_EQ(odd.body, "Erro desconhecido no evento Estranha.");
}

}  // namespace
}  // namespace quelvar::service
