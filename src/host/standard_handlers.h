#pragma once
// The handlers of this server's events. An event of the catalogue without a
// registered handler answers that it is not available yet.

#include "service/handler_registry.h"

namespace quelvar::host {

// Whether "AtualizaServidor" may replace the program. Off where the program
// comes with a system package: the event then answers that no update is
// available, and the package manager brings new versions.
enum class SelfUpdate { On, Off };

service::HandlerRegistry StandardHandlers(SelfUpdate selfUpdate = SelfUpdate::On);

}  // namespace quelvar::host
