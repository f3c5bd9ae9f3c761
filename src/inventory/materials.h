#pragma once
// The material register (table T04_MATE): its two lists, its save, its
// delete, and the handlers of the group DWServerEventsT04_MATE.

#include <cstdint>
#include <span>
#include <string>

#include "inventory/dispatch.h"
#include "service/handler_registry.h"

namespace quelvar::inventory {

// Live, lot-kept materials with their group and balance, ordered by description.
MemTable& ConsultaMaterial(TDM& dm, const QueryArgs& args);
// As ConsultaMaterial, with the average cost computed from the live lots.
MemTable& ConsultaMaterial2(TDM& dm, const QueryArgs& args);
// Inserts (number 0 or less) or updates the record set's current row; answers its number.
void GravaMaterial(TDM& dm, MemTable& header, MemTable& items, std::string& answer);
// Marks a material not held by any live document as deleted; answers "OK".
void ExcluiMaterial(TDM& dm, std::int64_t numMaterial, std::int64_t numUsuario, std::string& answer);

std::span<const QueryOption> MaterialQueryOptions();
std::span<const SaveOption> MaterialSaveOptions();
std::span<const DeleteOption> MaterialDeleteOptions();

void RegisterMaterialHandlers(service::HandlerRegistry::Builder& registry);

}  // namespace quelvar::inventory
