#pragma once
// "QueryDinamica": a statement text sent by the client, run through the query
// dispatch (option "QueryDinamica") when it only reads, within the time and
// memory budgets of Config1.ini and with only a few run at once
// (free_query_guard.h, free_query_slots.h, safety_settings.h). A refused text or a passed budget fails through the
// dispatch's failure path with a message saying why.

#include <span>
#include <string>

#include "formats/params.h"
#include "inventory/dispatch.h"

namespace quelvar::tools {

// The text `args.pFiltro` as the only line of Query1, opened under a
// FreeQueryGuard and loaded into MemTable1.
MemTable& QueryDinamica(TDM& dm, const inventory::QueryArgs& args);

std::span<const inventory::QueryOption> FreeQueryOptions();

// "QueryDinamica": `Tabela` := Consulta("QueryDinamica", `SQL`).
void QueryDinamicaEvent(TDM& dm, TDWParams& params, std::string& result);

}  // namespace quelvar::tools
