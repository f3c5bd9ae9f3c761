#pragma once
// The handlers of this server's events. An event of the catalogue without a
// registered handler answers that it is not available yet.

#include "service/handler_registry.h"

namespace quelvar::service {

HandlerRegistry StandardHandlers();

}  // namespace quelvar::service
