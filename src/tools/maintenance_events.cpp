#include "tools/maintenance_events.h"

#include <memory>

#include "tools/backup.h"
#include "tools/backup_listing.h"
#include "tools/free_query.h"
#include "tools/integrity_check.h"
#include "tools/restore.h"
#include "tools/self_update.h"

namespace quelvar::tools {

void RegisterMaintenanceEvents(service::HandlerRegistry::Builder& registry) {
  constexpr std::string_view kGroup = "DWServerEventsFerramentas";
  registry.Add(kGroup, "Backup", Backup);
  registry.Add(kGroup, "Restore", Restore);
  registry.Add(kGroup, "ListaArquivosBackups", ListaArquivosBackups);
  registry.Add(kGroup, "Reordena", Reordena);
  registry.Add(kGroup, "QueryDinamica", QueryDinamicaEvent);
  // One updater for the registry's lifetime: its status and its one worker
  // are shared by every request.
  registry.Add(kGroup, "AtualizaServidor",
               [updater = std::make_shared<SelfUpdater>()](TDM& dm, TDWParams& params, std::string&) {
                 AtualizaServidor(*updater, dm, params);
               });
}

}  // namespace quelvar::tools
