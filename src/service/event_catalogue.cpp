#include "service/event_catalogue.h"

#include <string>
#include <utility>

namespace quelvar::service {

EventCatalogue::Match EventCatalogue::FindEvent(std::string_view groupName, std::string_view eventName) const {
  for (const TDWServerEvents& group : groups_) {
    if (!group.Qualifies(groupName)) continue;
    if (const TDWEvent* event = group.Find(eventName)) return {&group, event};
  }
  return {};
}

const TDWServerEvents* EventCatalogue::FirstQualifyingGroup(std::string_view groupName) const {
  for (const TDWServerEvents& group : groups_) {
    if (group.Qualifies(groupName)) return &group;
  }
  return nullptr;
}

namespace {

using enum TObjectDirection;

// Value types as the declarations name them.
constexpr TObjectValue kText = TObjectValue::ovString;
constexpr TObjectValue kInteger = TObjectValue::ovInteger;
constexpr TObjectValue kBoolean = TObjectValue::ovBoolean;
constexpr TObjectValue kDateTime = TObjectValue::ovDateTime;

// Every parameter of this server is declared Encoded.
DeclaredParam In(std::string name, TObjectValue type) { return {std::move(name), odIN, type, true, std::nullopt}; }
DeclaredParam Out(std::string name, TObjectValue type) { return {std::move(name), odOUT, type, true, std::nullopt}; }
DeclaredParam InOut(std::string name, TObjectValue type) {
  return {std::move(name), odINOUT, type, true, std::nullopt};
}
DeclaredParam InWithDefault(std::string name, TObjectValue type, std::string defaultValue) {
  return {std::move(name), odIN, type, true, std::move(defaultValue)};
}

TDWEvent Event(std::string name, std::vector<DeclaredParam> params) {
  TDWEvent event;
  event.Name = std::move(name);
  event.DWParams = std::move(params);
  return event;
}

// "Exclui" of a table family: the Flag of the family as default, the key of
// the row, the deleting user, the answer.
TDWEvent DeleteEvent(int flag, std::string keyParam) {
  return Event("Exclui", {InWithDefault("Flag", kInteger, std::to_string(flag)), In(std::move(keyParam), kInteger),
                          In("NumUsuario", kInteger), Out("Resposta", kText)});
}

// The list events of the registers with a deactivation flag.
std::vector<DeclaredParam> ListParams() {
  return {In("Filtro", kText), Out("Tabela", kText), In("Desativados", kBoolean)};
}

// Groups, cost centres, sectors and suppliers.
TDWServerEvents SimpleRegisterGroup(std::string name, int flag, std::string keyParam) {
  return TDWServerEvents(std::move(name), {
                                              Event("Consulta", ListParams()),
                                              Event("Grava", {In("Tabela", kText), Out("Resposta", kText)}),
                                              DeleteEvent(flag, std::move(keyParam)),
                                          });
}

// Orders, entries, requisitions, outputs and losses.
std::vector<TDWEvent> DocumentEvents(int flag, std::string keyParam) {
  auto dateRangeList = [] {
    return std::vector<DeclaredParam>{In("Filtro", kText), In("Data1", kText), In("Data2", kText),
                                      Out("Tabela", kText)};
  };
  return {
      Event("Consulta", dateRangeList()),
      Event("ConsultaMaster", dateRangeList()),
      Event("ConsultaDetail", {In("Filtro", kText), Out("Tabela", kText)}),
      Event("Grava", {In("Tabela", kText), In("TabelaDet", kText), Out("Resposta", kText)}),
      DeleteEvent(flag, std::move(keyParam)),
  };
}

TDWServerEvents DocumentGroup(std::string name, int flag, std::string keyParam) {
  return TDWServerEvents(std::move(name), DocumentEvents(flag, std::move(keyParam)));
}

TDWServerEvents ConfigurationGroup() {
  return TDWServerEvents("DWServerEventsT03_CONF", {
                                                       Event("Consulta", {Out("Tabela", kText)}),
                                                       Event("Grava", {In("Tabela", kText), Out("Resposta", kText)}),
                                                       Event("ServerTime", {Out("Resultado", kDateTime)}),
                                                   });
}

TDWServerEvents UsersGroup() {
  return TDWServerEvents(
      "DWServerEventsT01_USUA",
      {
          Event("ValidaUsuario", {In("Usuario", kText), In("Senha", kText), Out("Resposta", kText)}),
          Event("ConsultaAcessos", {Out("Tabela", kText), In("NumUsuario", kText)}),
          Event("Consulta", {In("Filtro", kText), Out("Tabela", kText)}),
          Event("Exclui", {InWithDefault("Flag", kInteger, "1"), In("NumUsuario", kInteger), Out("NumFunc", kInteger),
                           Out("Resposta", kText)}),
          Event("Grava", {In("Tabela", kText), Out("Resposta", kText)}),
          Event("NovaSenha",
                {In("NumUsuario", kText), In("Senha1", kText), In("Senha2", kText), Out("Resposta", kText)}),
          Event("GravaAcessos", {In("Tabela", kText), Out("Resposta", kText)}),
      });
}

TDWServerEvents ToolsGroup() {
  return TDWServerEvents("DWServerEventsFerramentas",
                         {
                             Event("Backup", {In("Destino1", kText), In("Destino2", kText), Out("Resposta", kText)}),
                             Event("Restore", {In("Origem", kText), Out("Resposta", kText)}),
                             Event("ListaArquivosBackups", {InOut("Tabela", kText)}),
                             Event("Reordena", {Out("Resposta", kText)}),
                             Event("QueryDinamica", {In("SQL", kText), Out("Tabela", kText)}),
                             Event("AtualizaServidor", {Out("Resposta", kText)}),
                             Event("Sobre", {Out("Resposta", kText)}),
                         });
}

TDWServerEvents MaterialsGroup() {
  return TDWServerEvents("DWServerEventsT04_MATE", {
                                                       Event("Consulta", ListParams()),
                                                       Event("Consulta2", ListParams()),
                                                       Event("Grava", {In("Tabela", kText), Out("Resposta", kText)}),
                                                       DeleteEvent(4, "NumMaterial"),
                                                   });
}

TDWServerEvents LotsGroup() {
  return TDWServerEvents(
      "DWServerEventsT05_LOTE",
      {
          Event("Consulta", ListParams()),
          Event("ConsultaLookupLote", ListParams()),
          Event("ConsultaLookLote2", {In("Filtro", kText), InOut("Tabela", kText), In("Desativados", kText)}),
          Event("ConsultaLoteMaterial", {In("Lote", kText), In("NumMaterial", kText), Out("Tabela", kText)}),
          Event("ConsultaPrimeiroLote", {In("NumLote", kText), Out("Tabela", kText)}),
          Event("Grava", {In("Tabela", kText), Out("Resposta", kText)}),
          DeleteEvent(5, "NumLote"),
      });
}

TDWServerEvents OutputsGroup() {
  std::vector<TDWEvent> events = DocumentEvents(16, "NumSaida");
  events.push_back(Event("CalculaCusto", {In("NumMaterial", kText), In("Data", kText), Out("Tabela", kText)}));
  return TDWServerEvents("DWServerEventsT16_SAID", std::move(events));
}

}  // namespace

EventCatalogue BuildEventCatalogue() {
  std::vector<TDWServerEvents> groups;
  groups.reserve(14);
  groups.push_back(ConfigurationGroup());
  groups.push_back(UsersGroup());
  groups.push_back(ToolsGroup());
  groups.push_back(SimpleRegisterGroup("DWServerEventsT06_GRUP", 6, "NumGrupo"));
  groups.push_back(SimpleRegisterGroup("DWServerEventsT07_CENC", 7, "NumCC"));
  groups.push_back(SimpleRegisterGroup("DWServerEventsT09_SETO", 9, "NumSetor"));
  groups.push_back(MaterialsGroup());
  groups.push_back(SimpleRegisterGroup("DWServerEventsT08_FORN", 8, "NumFornec"));
  groups.push_back(LotsGroup());
  groups.push_back(DocumentGroup("DWServerEventsT10_PEDI", 10, "NumPedido"));
  groups.push_back(DocumentGroup("DWServerEventsT14_REQU", 14, "NumRequis"));
  groups.push_back(DocumentGroup("DWServerEventsT12_ENTR", 12, "NumEntrada"));
  groups.push_back(OutputsGroup());
  groups.push_back(DocumentGroup("DWServerEventsT18_PERD", 18, "NumPerda"));
  return EventCatalogue(std::move(groups));
}

}  // namespace quelvar::service
