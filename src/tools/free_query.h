#pragma once
// "QueryDinamica": a statement text sent by the client, run through the query
// dispatch's path (under the name "QueryDinamica") when it only reads, within the time and
// memory budgets of Config1.ini and with only a few run at once
// (free_query_guard.h, free_query_slots.h, safety_settings.h). A refused text or a passed budget fails through the
// dispatch's failure path with a message saying why.

#include <string>

#include "formats/params.h"
#include "inventory/dispatch.h"

namespace quelvar::tools {

// The text `args.pFiltro` as the only line of Query1, opened under a
// FreeQueryGuard and loaded into MemTable1.
MemTable& QueryDinamica(TDM& dm, const inventory::QueryArgs& args);

// "QueryDinamica": `Tabela` := QueryDinamica(`SQL`) through the query
// dispatch's path (inventory::ConsultaPor), under the name "QueryDinamica".
void QueryDinamicaEvent(TDM& dm, TDWParams& params, std::string& result);

}  // namespace quelvar::tools
