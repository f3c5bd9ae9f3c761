#pragma once
// The average unit cost of a material up to a day: the quantity-weighted mean
// of the unit values its live entries dated on or before that day received.
// Asked through "CalculaCusto" of the output group.

#include <span>

#include "inventory/dispatch.h"
#include "service/handler_registry.h"

namespace quelvar::inventory {

// One row, one real column qCustoMedio: material pFiltro, day pData1.
MemTable& CalcCusto(TDM& dm, const QueryArgs& args);

std::span<const QueryOption> CostQueryOptions();

void RegisterCostHandlers(service::HandlerRegistry::Builder& registry);

}  // namespace quelvar::inventory
