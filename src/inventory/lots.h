#pragma once
// Lots (table T05_LOTE): their list, the lookups made while documents are
// edited, the edit of a lot's descriptive columns, the delete, and the
// handlers of the group DWServerEventsT05_LOTE.

#include <cstdint>
#include <span>
#include <string>

#include "inventory/dispatch.h"
#include "service/handler_registry.h"

namespace quelvar::inventory {

// Live lots whose name contains the filter, with their material and balance, ordered by name.
MemTable& ConsultaLote(TDM& dm, const QueryArgs& args);
// Live lots of the material numbered by the filter (all materials when empty).
MemTable& ConsultaLookLote(TDM& dm, const QueryArgs& args);
// As ConsultaLookLote, only lots with a positive balance.
MemTable& ConsultaLookLote2(TDM& dm, const QueryArgs& args);
// The lot of name pFiltro of material pData1, deleted and deactivated ones included.
MemTable& ConsultaLoteMat(TDM& dm, const QueryArgs& args);
// The date of the earliest live entry that received lot pFiltro.
MemTable& ConsultaFirstLote(TDM& dm, const QueryArgs& args);
// Edits an existing lot's name, expiry, place, notes and deactivation; answers its number.
void GravaLote(TDM& dm, MemTable& header, MemTable& items, std::string& answer);
// Marks a lot no live document uses as deleted; answers "OK".
void ExcluiLote(TDM& dm, std::int64_t numLote, std::int64_t numUsuario, std::string& answer);

std::span<const QueryOption> LotQueryOptions();
std::span<const SaveOption> LotSaveOptions();
std::span<const DeleteOption> LotDeleteOptions();

void RegisterLotHandlers(service::HandlerRegistry::Builder& registry);

}  // namespace quelvar::inventory
