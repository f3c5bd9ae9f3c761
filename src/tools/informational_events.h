#pragma once
// The informational events that need no database: "Sobre" (the version text)
// of DWServerEventsFerramentas and "ServerTime" (the server's clock) of
// DWServerEventsT03_CONF.

#include <string>
#include <string_view>

#include "formats/params.h"
#include "formats/wire_values.h"
#include "service/handler_registry.h"

namespace quelvar {
class TDM;
}

namespace quelvar::tools {

// `FVersao`, the version text of the server once its listener has started;
// events are only served while the listener runs.
inline constexpr std::string_view kServerVersion = "1.5";

// "Sobre": `Resposta` := the version text. The result text stays empty.
void Sobre(TDM& module, TDWParams& params, std::string& result);

// "ServerTime": when the list holds `Resultado`, it is set as a date-time to
// the server's local date and time, to the millisecond. The result text stays
// empty.
void ServerTime(TDM& module, TDWParams& params, std::string& result);

// The local date and time now, to the millisecond.
TDateTime LocalNow();

// Registers the two handlers above.
void RegisterInformationalEvents(service::HandlerRegistry::Builder& registry);

}  // namespace quelvar::tools
