#pragma once
// The two handler shapes most register events share: a list event that hands
// "Filtro" and "Desativados" to a query option and answers in "Tabela", and a
// save event that hands "Tabela" to a save option and answers in "Resposta".

#include <string_view>

#include "service/handler_registry.h"

namespace quelvar::inventory {

// `option` must outlive the handler (the option strings are literals).
service::EventHandler ListEventHandler(std::string_view option);
service::EventHandler SaveEventHandler(std::string_view option);

}  // namespace quelvar::inventory
