#pragma once
// The generic query, save and delete dispatch of the service module.
//
// Business procedures are selected by option strings (queries, saves) or by
// the table family's flag code (deletes). Each family of this floor contributes
// its rows to the option tables (procedure_tables.cpp); a procedure of a higher
// floor hands itself to ConsultaPor. The dispatchers own the common failure
// path: log one operator entry and answer a message.

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/params.h"
#include "service/handler_registry.h"

namespace quelvar {
class MemTable;
class TDM;
}  // namespace quelvar

namespace quelvar::inventory {

// The dispatcher's arguments as a query procedure sees them.
struct QueryArgs {
  std::string pFiltro;
  bool pDesat = false;
  std::string pData1;
  std::string pData2;
};

// A query procedure leaves its result in the module's MemTable1 and returns it.
using QueryProcedure = MemTable& (*)(TDM& dm, const QueryArgs& args);
// A save procedure reads the decoded header (and items) and sets the answer;
// on failure it rolls back and raises an error whose message is the text to report.
using SaveProcedure = void (*)(TDM& dm, MemTable& header, MemTable& items, std::string& answer);
// A delete procedure marks the row `key` as deleted by `user` and sets the answer.
using DeleteProcedure = void (*)(TDM& dm, std::int64_t key, std::int64_t user, std::string& answer);

struct QueryOption {
  std::string_view option;
  QueryProcedure run;
};
struct SaveOption {
  std::string_view option;
  SaveProcedure run;
};
struct DeleteOption {
  int flag;
  DeleteProcedure run;
};

// Begins the text of the warning a query logs (option + " MSG: \r" + this +
// " FIELD (N), ...") when its rows came with values their field's type could
// not hold, which the answer carries empty.
inline constexpr std::string_view kEmptiedValuesWarning = "Valores que o tipo do campo não comporta ficaram vazios:";

// The dataset JSON of the selected procedure's result, or "" after a failure
// (logged as option + " --> \r" + message). The text comes in its encoded
// form, made once while the rows are written; callers store it with
// TJSONParam::SetAsString. Values left empty are logged as above, once.
EncodedText Consulta(TDM& dm, std::string_view pOpcao, std::string_view pFiltro, bool pDesat,
                     std::string_view pData1, std::string_view pData2);

// The same path for a query procedure a higher floor owns (the free query):
// `procedure` runs with `args`, and its result, failure and warnings are
// answered and logged under the name `pOpcao` as Consulta does. A null
// procedure fails as an unknown option.
EncodedText ConsultaPor(TDM& dm, std::string_view pOpcao, QueryProcedure procedure, const QueryArgs& args);

// Decodes the header (and item) dataset JSON into MemTable1 (and MemTable2),
// runs the selected save procedure and returns its answer; after a failure
// "Ocorreu um erro na gravação no banco de dados.\r" + message (logged).
std::string Grava(TDM& dm, std::string_view pOpcao, std::string_view pTabela, std::string_view pTabelaDet);

// The "Exclui" handler shared by the table families: "Flag" selects the
// procedure, its key parameter and "NumUsuario" are its arguments, "Resposta"
// receives the answer.
void DWServerEvents_Exclui(TDM& dm, TDWParams& params, std::string& result);

// Registers the shared "Exclui" handler on the group of every family whose
// delete procedure is in the delete table.
void RegisterDeleteHandlers(service::HandlerRegistry::Builder& registry);

// The message answered for a flag no family owns.
inline constexpr std::string_view kNoDeleteAlternative = "Erro do servidor. Nenhuma alternativa no flag de exclusão.";

}  // namespace quelvar::inventory
