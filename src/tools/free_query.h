#pragma once
// "QueryDinamica": a statement text sent by the client, run as received
// through the query dispatch (option "QueryDinamica").

#include <span>
#include <string>

#include "formats/params.h"
#include "inventory/dispatch.h"

namespace quelvar::tools {

// The text `args.pFiltro` as the only line of Query1, opened and loaded into
// MemTable1.
MemTable& QueryDinamica(TDM& dm, const inventory::QueryArgs& args);

std::span<const inventory::QueryOption> FreeQueryOptions();

// "QueryDinamica": `Tabela` := Consulta("QueryDinamica", `SQL`).
void QueryDinamicaEvent(TDM& dm, TDWParams& params, std::string& result);

}  // namespace quelvar::tools
