// How the client reads the server's event listings and sends each parameter
// with the direction its event declares.

#include "client/call_parameters.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "client/client_record_sets.h"
#include "client/event_listing.h"
#include "data/mem_table.h"
#include "data/dataset_json.h"
#include "formats/errors.h"
#include "formats/params.h"
#include "formats/text_codec.h"
#include "service/event_catalogue.h"
#include "service/server_events.h"

namespace quelvar::client {
namespace {

using enum TObjectDirection;

// The declared events of a group as the client reads them from the server's
// own "GETEVENTS" answer text.
std::vector<DeclaredEvent> ListingOf(std::string_view group) {
  const service::EventCatalogue catalogue = service::BuildEventCatalogue();
  const service::TDWServerEvents* events = catalogue.FirstQualifyingGroup(group);
  if (!events) throw Error("no group " + std::string(group));
  return ReadEventDeclarations("[" + events->EventListText() + "]");
}

// What a parameter text says, read back as the server reads it.
struct SentParam {
  std::string name;
  TObjectDirection direction;
  TObjectValue valueType;
  std::string text;
};

SentParam ParamOf(const ParamField& field) {
  TJSONParam param(TEncodeSelect::esASCII);
  param.FromJSON(field.second);
  return {param.ParamName(), param.Direction(), param.ValueType(), param.GetAsString()};
}

TEST(EventDeclarations, EveryGroupReadsBackAsTheServerDeclaresIt) {
  const service::EventCatalogue catalogue = service::BuildEventCatalogue();
  ASSERT_FALSE(catalogue.Groups().empty());
  for (const service::TDWServerEvents& group : catalogue.Groups()) {
    const std::vector<DeclaredEvent> read = ReadEventDeclarations("[" + group.EventListText() + "]");
    ASSERT_EQ(read.size(), group.Events().size()) << group.Name();
    for (std::size_t e = 0; e < read.size(); ++e) {
      const service::TDWEvent& declared = group.Events()[e];
      EXPECT_EQ(read[e].name, declared.Name);
      ASSERT_EQ(read[e].params.size(), declared.DWParams.size()) << declared.Name;
      for (std::size_t p = 0; p < read[e].params.size(); ++p) {
        const DeclaredParameter& got = read[e].params[p];
        const service::DeclaredParam& want = declared.DWParams[p];
        EXPECT_EQ(got.name, want.name) << group.Name() << "." << declared.Name;
        EXPECT_EQ(got.direction, std::optional(want.direction)) << group.Name() << "." << declared.Name << "." << want.name;
        EXPECT_EQ(got.typeName, ValueTypeName(want.valueType)) << want.name;
        EXPECT_EQ(got.defaultText, want.defaultValue.value_or("")) << want.name;
      }
    }
  }
}

TEST(EventDeclarations, FindsEventsAndParametersInAnyLetterCase) {
  const std::vector<DeclaredEvent> tools = ListingOf("DWServerEventsFerramentas");
  const DeclaredEvent* listing = FindDeclaredEvent(tools, "listaarquivosbackups");
  ASSERT_NE(listing, nullptr);
  EXPECT_EQ(listing->name, "ListaArquivosBackups");
  ASSERT_NE(listing->Find("TABELA"), nullptr);
  EXPECT_EQ(listing->Find("TABELA")->direction, std::optional(odINOUT));
  EXPECT_EQ(listing->Find("Resposta"), nullptr);
  EXPECT_EQ(FindDeclaredEvent(tools, "NaoExiste"), nullptr);
}

TEST(EventDeclarations, TextsThatAreNoEventListRaise) {
  for (const char* text : {"", "[]", "{\"outra\":[]}", "[{\"serverevents\":{}}]", "não é JSON"})
    EXPECT_THROW(ReadEventDeclarations(text), Error) << text;
  EXPECT_EQ(ReadEventDeclarations("{\"serverevents\":[]}").size(), 0u);
  const std::vector<DeclaredEvent> odd =
      ReadEventDeclarations("{\"serverevents\":[{\"eventname\":\"E\",\"params\":[{\"paramname\":\"P\","
                            "\"objectdirection\":\"odSIDEWAYS\",\"objectvalue\":\"ovString\"}]}]}");
  ASSERT_EQ(odd.size(), 1u);
  ASSERT_EQ(odd[0].params.size(), 1u);
  EXPECT_EQ(odd[0].params[0].direction, std::nullopt);
}

TEST(CallParameters, EachParameterGoesWithItsDeclaredDirection) {
  constexpr const char* kTools = "DWServerEventsFerramentas";
  constexpr const char* kMaterials = "DWServerEventsT04_MATE";
  struct Case {
    const char* group;
    const char* event;  // nullptr: the event is not listed
    std::vector<std::string> arguments;
    std::vector<std::string> recordSets;
    std::vector<std::pair<std::string, TObjectDirection>> sent;  // name and direction, in order
  } cases[] = {
      // An in-out record set from a rows file, or as a text argument.
      {kTools, "ListaArquivosBackups", {}, {"Tabela"}, {{"Tabela", odINOUT}}},
      {kTools, "ListaArquivosBackups", {"tabela=x"}, {}, {{"tabela", odINOUT}}},
      // Inputs, and an output the person gave a value.
      {kTools, "QueryDinamica", {"SQL=Select 1", "Tabela=x"}, {}, {{"SQL", odIN}, {"Tabela", odOUT}}},
      // A parameter the event does not declare goes as input.
      {kMaterials, "Consulta", {"Desativados:bool=true", "Extra:int=3"}, {}, {{"Desativados", odIN}, {"Extra", odIN}}},
      {kMaterials, "Grava", {}, {"Tabela"}, {{"Tabela", odIN}}},
      // Without the listing everything goes as input.
      {kTools, nullptr, {"SQL=x"}, {"Tabela", "TabelaDet"}, {{"SQL", odIN}, {"Tabela", odIN}, {"TabelaDet", odIN}}},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(c.group) + "." + (c.event ? c.event : "(not listed)");
    const std::vector<DeclaredEvent> listing = ListingOf(c.group);
    const DeclaredEvent* event = c.event ? FindDeclaredEvent(listing, c.event) : nullptr;
    ASSERT_TRUE(event || !c.event) << what;
    CallInputs inputs;
    for (const std::string& a : c.arguments) inputs.arguments.push_back(ReadEventArgument(a));
    for (const std::string& name : c.recordSets) inputs.recordSets.emplace_back(name, "{\"fields\":[]}");
    const CallParameters plan = PlanCallParameters(c.group, event, inputs);
    ASSERT_EQ(plan.fields.size(), c.sent.size()) << what;
    ASSERT_EQ(plan.sentNames.size(), c.sent.size()) << what;
    for (std::size_t i = 0; i < c.sent.size(); ++i) {
      EXPECT_EQ(plan.fields[i].first, c.sent[i].first) << what;
      EXPECT_EQ(plan.sentNames[i], c.sent[i].first) << what;
      const SentParam param = ParamOf(plan.fields[i]);
      // The server reads names back in lower case.
      EXPECT_TRUE(EqualsIgnoreCase(param.name, c.sent[i].first)) << what << ": " << param.name;
      EXPECT_EQ(param.direction, c.sent[i].second) << what << ": " << c.sent[i].first;
    }
  }
}

TEST(CallParameters, TypedArgumentsKeepTheirValueType) {
  const std::vector<DeclaredEvent> materials = ListingOf("DWServerEventsT04_MATE");
  CallInputs inputs;
  inputs.arguments = {ReadEventArgument("Desativados:bool=true"), ReadEventArgument("Filtro=T04_Peso > 1")};
  const CallParameters plan =
      PlanCallParameters("DWServerEventsT04_MATE", FindDeclaredEvent(materials, "Consulta"), inputs);
  ASSERT_EQ(plan.fields.size(), 2u);
  EXPECT_EQ(ParamOf(plan.fields[0]).valueType, TObjectValue::ovBoolean);
  EXPECT_EQ(ParamOf(plan.fields[0]).text, "true");
  EXPECT_EQ(ParamOf(plan.fields[1]).valueType, TObjectValue::ovString);
  EXPECT_EQ(ParamOf(plan.fields[1]).text, "T04_Peso > 1");
}

// The fields of the record set a parameter text carries.
std::vector<std::string> FieldNamesOf(const ParamField& field) {
  MemTable table;
  TJSONValue holder;
  WriteToDataset(holder, ParamOf(field).text, table);
  std::vector<std::string> names;
  for (const FieldDef& f : table.Fields()) names.push_back(f.name + ":" + std::to_string(static_cast<int>(f.type)));
  EXPECT_EQ(table.RecordCount(), 0);
  return names;
}

TEST(CallParameters, AClientDefinedListingIsSentEmptyWhenNotGiven) {
  const std::vector<DeclaredEvent> tools = ListingOf("DWServerEventsFerramentas");
  const DeclaredEvent* listing = FindDeclaredEvent(tools, "ListaArquivosBackups");
  const std::vector<std::string> expectedFields = {
      "NomeArquivo:" + std::to_string(static_cast<int>(TFieldType::ftWideString)),
      "Tamanho:" + std::to_string(static_cast<int>(TFieldType::ftInteger))};
  for (const char* group : {"DWServerEventsFerramentas", "tdm.dwservereventsferramentas"}) {
    const CallParameters plan = PlanCallParameters(group, listing, {});
    ASSERT_EQ(plan.fields.size(), 1u) << group;
    EXPECT_EQ(plan.sentNames, std::vector<std::string>{"Tabela"});
    EXPECT_EQ(ParamOf(plan.fields[0]).direction, odINOUT);
    EXPECT_EQ(FieldNamesOf(plan.fields[0]), expectedFields) << group;
  }
  // A rows file given for it is sent instead; without the listing nothing is added.
  CallInputs given;
  given.recordSets.emplace_back("Tabela", *ClientDefinedRecordSet("DWServerEventsFerramentas", "ListaArquivosBackups", "Tabela"));
  EXPECT_EQ(PlanCallParameters("DWServerEventsFerramentas", listing, given).fields.size(), 1u);
  EXPECT_TRUE(PlanCallParameters("DWServerEventsFerramentas", nullptr, {}).fields.empty());
  // Only that group's event has one.
  EXPECT_EQ(ClientDefinedRecordSet("DWServerEventsT04_MATE", "ListaArquivosBackups", "Tabela"), std::nullopt);
  EXPECT_EQ(ClientDefinedRecordSet("DWServerEventsFerramentas", "QueryDinamica", "Tabela"), std::nullopt);
}

}  // namespace
}  // namespace quelvar::client
