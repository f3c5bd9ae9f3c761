#pragma once
// The event service: the request handler behind the listener. For one request
// it runs the parameter intake, the routing and dispatch on a fresh service
// module, and writes the reply.
//
// A failure outside an event handler (a malformed parameter text, a broken
// multipart body, a binary block of the wrong length, a database-pooler
// command without its parameters) answers status 500 with the failure's
// message. An asynchronous call is acknowledged first; its event runs in the
// reply's afterWrite step, on the connection's thread.

#include <filesystem>
#include <memory>

#include "formats/params.h"
#include "data/database_path.h"
#include "service/event_catalogue.h"
#include "service/event_dispatch.h"
#include "service/handler_registry.h"
#include "service/http_exchange.h"
#include "data/operator_console.h"
#include "service/request_intake.h"

namespace quelvar::service {

// The service's text-encoding selector (`Encoding`).
inline constexpr TEncodeSelect kServiceEncoding = TEncodeSelect::esASCII;
// The service's cipher key (`CriptOptions`), handed to the parameters of a
// request that asks for enciphered string values.
inline constexpr std::string_view kServiceCipherKey = "QuelvarChave1";

class EventService final : public RequestHandler {
 public:
  // The catalogue and the handlers the host wires (for tests: another set,
  // to try the routing rules).
  EventService(OperatorConsole& console, std::filesystem::path programFolder,
               std::shared_ptr<DatabasePath> databasePath, EventCatalogue catalogue, HandlerRegistry handlers);

  EventService(const EventService&) = delete;
  EventService& operator=(const EventService&) = delete;

  // Also names, in the reply, the group and event the request reached.
  void Handle(const HttpRequest& request, HttpReply& reply) override;

  const EventCatalogue& Catalogue() const { return catalogue_; }

 private:
  struct Reached {
    std::string group;
    std::string event;
  };
  void Serve(const HttpRequest& request, HttpReply& reply, Reached& reached);

  const EventCatalogue catalogue_;
  const HandlerRegistry handlers_;
  const IntakeSettings intakeSettings_;
  const EventDispatcher dispatcher_;
};

}  // namespace quelvar::service
