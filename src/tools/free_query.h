#pragma once
// "QueryDinamica": a statement text sent by the client, run through the query
// dispatch (option "QueryDinamica") when it only reads, within the time and
// result-memory budgets of Config1.ini (free_query_guard.h,
// safety_settings.h). A refused text or a passed budget fails through the
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
