#pragma once
// Routing and dispatch of one request: the status page, a reserved command,
// or one event of one event group run on a fresh service module.
//
// Per request: create the module (one count on the request counter, whatever
// the request turns out to be); a request naming neither group nor event is
// the status page; a reserved command name is served as such; otherwise the
// first qualifying group holding the event is found, the route is checked,
// the parameter list is completed with the event's declared parameters and
// the handler runs. An event without a registered handler fails as "not
// available yet". When nothing answered, a file of the program folder may;
// else "Event not found..." with status 404. The module is freed before
// Run returns, that is before the reply is written.

#include <filesystem>
#include <memory>
#include <string_view>

#include "data/tdm.h"
#include "data/database_path.h"
#include "service/dispatch_outcome.h"
#include "service/event_catalogue.h"
#include "service/handler_registry.h"
#include "service/http_exchange.h"
#include "data/operator_console.h"
#include "service/request_intake.h"

namespace quelvar::service {

// The message of an event whose handler is not part of this server yet.
inline constexpr std::string_view kEventNotAvailable = "Evento ainda não disponível neste servidor: ";

// What of the HTTP request the dispatch needs besides the intake outcome.
struct DispatchRequest {
  RequestType method = RequestType::Get;
  std::string path;         // not percent-decoded
  std::string referer;
  std::string requestText;  // request line without the HTTP version
  TClientInfo client;
};

DispatchRequest DispatchRequestOf(const HttpRequest& request);

class EventDispatcher {
 public:
  // Everything referenced must outlive the dispatcher.
  EventDispatcher(const EventCatalogue& catalogue, const HandlerRegistry& handlers, OperatorConsole& console,
                  std::shared_ptr<const DatabasePath> databasePath, std::filesystem::path programFolder);

  // Runs steps above. `allowFileFallback` is false for asynchronous calls.
  // Failures outside a handler (a database-pooler command without its
  // parameters) propagate after the module has been freed.
  DispatchOutcome Run(const DispatchRequest& request, IntakeOutcome& intake, bool allowFileFallback) const;

 private:
  void RunEvent(const TDWServerEvents& group, const TDWEvent& event, const DispatchRequest& request, TDM& module,
                IntakeOutcome& intake, DispatchOutcome& outcome) const;

  const EventCatalogue& catalogue_;
  const HandlerRegistry& handlers_;
  OperatorConsole& console_;
  std::shared_ptr<const DatabasePath> databasePath_;
  std::filesystem::path programFolder_;
};

}  // namespace quelvar::service
