#include "inventory/dispatch.h"

#include <array>

#include "data/tdm.h"
#include "data/dataset_json.h"
#include "formats/errors.h"
#include "inventory/procedure_tables.h"

namespace quelvar::inventory {

namespace {

// The parameter that carries the key of the row to delete, by family flag.
// and the event group whose "Exclui" event carries that flag.
struct DeleteKey {
  int flag;
  std::string_view keyParam;
  std::string_view group;
};
constexpr std::array<DeleteKey, 12> kDeleteKeys = {{
    {1, "NumFunc", "DWServerEventsT01_USUA"},
    {4, "NumMaterial", "DWServerEventsT04_MATE"},
    {5, "NumLote", "DWServerEventsT05_LOTE"},
    {6, "NumGrupo", "DWServerEventsT06_GRUP"},
    {7, "NumCC", "DWServerEventsT07_CENC"},
    {8, "NumFornec", "DWServerEventsT08_FORN"},
    {9, "NumSetor", "DWServerEventsT09_SETO"},
    {10, "NumPedido", "DWServerEventsT10_PEDI"},
    {12, "NumEntrada", "DWServerEventsT12_ENTR"},
    {14, "NumRequis", "DWServerEventsT14_REQU"},
    {16, "NumSaida", "DWServerEventsT16_SAID"},
    {18, "NumPerda", "DWServerEventsT18_PERD"},
}};

template <typename Row>
const Row* FindOption(std::span<const Row> table, std::string_view option) {
  for (const Row& row : table)
    if (row.option == option) return &row;
  return nullptr;
}

[[noreturn]] void ThrowUnknownOption(std::string_view option) {
  throw Error("Opção desconhecida no servidor: " + std::string(option));
}

// One warning for a result whose rows came with values their field's type
// could not hold (left empty): which fields, and how many values each.
void LogEmptiedValues(const TDM& dm, std::string_view pOpcao, const MemTable& result) {
  const auto emptied = result.EmptiedValues();
  if (emptied.empty()) return;
  std::string entry = std::string(pOpcao) + " MSG: \r" + std::string(kEmptiedValuesWarning);
  for (std::size_t i = 0; i < emptied.size(); ++i)
    entry += (i == 0 ? " " : ", ") + emptied[i].first + " (" + std::to_string(emptied[i].second) + ")";
  dm.Log(std::move(entry));
}

}  // namespace

EncodedText Consulta(TDM& dm, std::string_view pOpcao, std::string_view pFiltro, bool pDesat,
                     std::string_view pData1, std::string_view pData2) {
  const QueryOption* entry = FindOption(QueryOptions(), pOpcao);
  return ConsultaPor(dm, pOpcao, entry ? entry->run : nullptr,
                     QueryArgs{std::string(pFiltro), pDesat, std::string(pData1), std::string(pData2)});
}

EncodedText ConsultaPor(TDM& dm, std::string_view pOpcao, QueryProcedure procedure, const QueryArgs& args) {
  try {
    if (!procedure) ThrowUnknownOption(pOpcao);
    MemTable& result = procedure(dm, args);
    LogEmptiedValues(dm, pOpcao, result);
    return DatasetHolderText(result, "temp", true, dm.Encoding);
  } catch (const std::exception& e) {
    dm.Log(std::string(pOpcao) + " --> \r" + e.what());
    return EncodedText();
  }
}

std::string Grava(TDM& dm, std::string_view pOpcao, std::string_view pTabela, std::string_view pTabelaDet) {
  std::string answer;
  try {
    dm.MemTable1.Close();
    dm.MemTable2.Close();
    TJSONValue headerHolder;
    WriteToDataset(headerHolder, pTabela, dm.MemTable1);
    if (!pTabelaDet.empty()) {
      TJSONValue itemsHolder;
      WriteToDataset(itemsHolder, pTabelaDet, dm.MemTable2);
    }
    const SaveOption* entry = FindOption(SaveOptions(), pOpcao);
    if (!entry) ThrowUnknownOption(pOpcao);
    entry->run(dm, dm.MemTable1, dm.MemTable2, answer);
    return answer;
  } catch (const std::exception& e) {
    dm.Log(std::string(pOpcao) + " --> \r" + e.what());
    return "Ocorreu um erro na gravação no banco de dados.\r" + std::string(e.what());
  }
}

void DWServerEvents_Exclui(TDM& dm, TDWParams& params, std::string& /*result*/) {
  try {
    std::string answer;
    const int flag = params.Item("Flag").GetAsInteger();
    const DeleteKey* key = nullptr;
    for (const DeleteKey& k : kDeleteKeys)
      if (k.flag == flag) key = &k;
    if (key) {
      const std::int64_t user = params.Item("NumUsuario").GetAsInteger();
      const std::int64_t row = params.Item(key->keyParam).GetAsInteger();
      DeleteProcedure run = nullptr;
      for (const DeleteOption& option : DeleteOptions())
        if (option.flag == flag) run = option.run;
      if (!run) throw Error("Exclusão ainda não disponível neste servidor.");
      run(dm, row, user, answer);
    } else {
      answer = std::string(kNoDeleteAlternative);
    }
    params.Item("Resposta").SetAsString(answer);
  } catch (const std::exception& e) {
    dm.Log(std::string("Exclui --> ") + e.what());
    if (TJSONParam* resposta = params.GetRecName("Resposta")) resposta->SetAsString(e.what());
  }
}

void RegisterDeleteHandlers(service::HandlerRegistry::Builder& registry) {
  for (const DeleteOption& option : DeleteOptions()) {
    for (const DeleteKey& key : kDeleteKeys)
      if (key.flag == option.flag) registry.Add(key.group, "Exclui", DWServerEvents_Exclui);
  }
}

}  // namespace quelvar::inventory
