#pragma once
// The stock documents engine: the list with items, the header list, the item
// list, the save and the soft delete of the five document kinds, each run from
// its descriptor (document_kinds.h), and the handlers of their event groups.

#include <span>

#include "inventory/dispatch.h"
#include "service/handler_registry.h"

namespace quelvar::inventory {

std::span<const QueryOption> DocumentQueryOptions();
std::span<const SaveOption> DocumentSaveOptions();
std::span<const DeleteOption> DocumentDeleteOptions();

// "Consulta", "ConsultaMaster", "ConsultaDetail" and "Grava" of every document
// group ("Exclui" is the shared delete handler).
void RegisterDocumentHandlers(service::HandlerRegistry::Builder& registry);

}  // namespace quelvar::inventory
