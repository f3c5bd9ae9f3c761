#include "service/standard_handlers.h"

#include "inventory/config_record.h"
#include "inventory/dispatch.h"
#include "tools/informational_events.h"

namespace quelvar::service {

HandlerRegistry StandardHandlers() {
  HandlerRegistry::Builder registry;
  tools::RegisterInformationalEvents(registry);
  inventory::RegisterConfigHandlers(registry);
  inventory::RegisterDeleteHandlers(registry);
  return std::move(registry).Build();
}

}  // namespace quelvar::service
