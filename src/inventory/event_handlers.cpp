#include "inventory/event_handlers.h"

#include <string>

#include "inventory/dispatch.h"

namespace quelvar::inventory {

service::EventHandler ListEventHandler(std::string_view option) {
  return [option](TDM& dm, TDWParams& params, std::string&) {
    const std::string filtro = params.Item("Filtro").GetAsString();
    const bool desativados = params.Item("Desativados").GetAsBoolean();
    params.Item("Tabela").SetAsString(Consulta(dm, option, filtro, desativados, "", ""));
  };
}

service::EventHandler SaveEventHandler(std::string_view option) {
  return [option](TDM& dm, TDWParams& params, std::string&) {
    const std::string tabela = params.Item("Tabela").GetAsString();
    params.Item("Resposta").SetAsString(Grava(dm, option, tabela, ""));
  };
}

}  // namespace quelvar::inventory
