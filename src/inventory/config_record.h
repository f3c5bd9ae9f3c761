#pragma once
// The system configuration record (table T03_CONF): its query, its save, the
// backup date, and the handlers of the group DWServerEventsT03_CONF.

#include <span>

#include "inventory/dispatch.h"
#include "service/handler_registry.h"

namespace quelvar::inventory {

// "Select * From T03_CONF " into MemTable1.
MemTable& ConsultaConfig(TDM& dm, const QueryArgs& args);
// Saves the nine client-owned settings from the record set's current row; answers "OK".
void GravaConfig(TDM& dm, MemTable& header, MemTable& items, std::string& answer);
// Writes today's date into T03_UltimoBackup.
void AtualizaDataBackup(TDM& dm);

std::span<const QueryOption> ConfigQueryOptions();
std::span<const SaveOption> ConfigSaveOptions();

void RegisterConfigHandlers(service::HandlerRegistry::Builder& registry);

}  // namespace quelvar::inventory
