#include "inventory/cost_calculation.h"

#include <array>
#include <string>

#include "data/tdm.h"
#include "inventory/document_date.h"
#include "inventory/register_support.h"
#include "inventory/statement.h"

namespace quelvar::inventory {

MemTable& CalcCusto(TDM& dm, const QueryArgs& args) {
  Query& q = dm.Query1;
  SetStatement(q, {
                      "Select Coalesce(Round(Sum(T13_Qtd * T13_Valor) / (Sum(T13_Qtd) + 0.000001), 5) ,0.00000) ",
                      "as qCustoMedio From T12_ENT1, T13_ENT2, T05_LOTE ",
                      "Where T12_Exclusao is Null and T12_NumEntrada = T13_NumEntrada and T13_NumLote = T05_NumLote ",
                      "and T12_Data <= :p00 and T05_NumMaterial = :p01",
                  });
  q.Param(0).AsDateTime(DocumentDate(args.pData1));
  q.Param(1).AsInteger(IntegerOrZero(args.pFiltro));
  q.Open();
  q.LoadInto(dm.MemTable1);
  q.Close();
  return dm.MemTable1;
}

std::span<const QueryOption> CostQueryOptions() {
  static constexpr std::array<QueryOption, 1> kOptions = {{{"CalcCusto", CalcCusto}}};
  return kOptions;
}

void RegisterCostHandlers(service::HandlerRegistry::Builder& registry) {
  registry.Add("DWServerEventsT16_SAID", "CalculaCusto", [](TDM& dm, TDWParams& params, std::string&) {
    const std::string material = params.Item("NumMaterial").GetAsString();
    const std::string day = params.Item("Data").GetAsString();
    params.Item("Tabela").SetAsString(Consulta(dm, "CalcCusto", material, false, day, ""));
  });
}

}  // namespace quelvar::inventory
