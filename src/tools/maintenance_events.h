#pragma once
// Registers the maintenance events of DWServerEventsFerramentas: "Backup",
// "Restore", "ListaArquivosBackups", "Reordena", "QueryDinamica" and
// "AtualizaServidor".

#include "service/handler_registry.h"

namespace quelvar::tools {

void RegisterMaintenanceEvents(service::HandlerRegistry::Builder& registry);

}  // namespace quelvar::tools
