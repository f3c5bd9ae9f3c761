#include "host/standard_handlers.h"

#include "inventory/config_record.h"
#include "inventory/cost_calculation.h"
#include "inventory/documents.h"
#include "inventory/dispatch.h"
#include "inventory/lots.h"
#include "inventory/materials.h"
#include "inventory/simple_registers.h"
#include "inventory/users.h"
#include "tools/informational_events.h"
#include "tools/maintenance_events.h"
#include "tools/self_update.h"

namespace quelvar::host {

service::HandlerRegistry StandardHandlers(SelfUpdate selfUpdate) {
  service::HandlerRegistry::Builder registry;
  tools::RegisterInformationalEvents(registry);
  tools::RegisterMaintenanceEvents(registry);
  inventory::RegisterConfigHandlers(registry);
  inventory::RegisterMaterialHandlers(registry);
  inventory::RegisterLotHandlers(registry);
  inventory::RegisterSimpleRegisterHandlers(registry);
  inventory::RegisterUserHandlers(registry);
  inventory::RegisterDocumentHandlers(registry);
  inventory::RegisterCostHandlers(registry);
  inventory::RegisterDeleteHandlers(registry);
  if (selfUpdate == SelfUpdate::Off) {
    registry.Add("DWServerEventsFerramentas", "AtualizaServidor", [](TDM&, TDWParams& params, std::string&) {
      params.Item("Resposta").SetAsString(std::string(tools::kStatusNoUpdate));
    });
  }
  return std::move(registry).Build();
}

}  // namespace quelvar::host
