#include "service/event_service.h"

#include <exception>
#include <utility>

#include "service/http_gate.h"
#include "service/reply_writer.h"

namespace quelvar::service {
namespace {

IntakeSettings ServiceIntakeSettings() {
  IntakeSettings settings;
  settings.encoding = kServiceEncoding;
  settings.cipher.use = false;
  settings.cipher.key = std::string(kServiceCipherKey);
  return settings;
}

}  // namespace

EventService::EventService(OperatorConsole& console, std::filesystem::path programFolder,
                           std::shared_ptr<DatabasePath> databasePath, EventCatalogue catalogue,
                           HandlerRegistry handlers)
    : catalogue_(std::move(catalogue)),
      handlers_(std::move(handlers)),
      intakeSettings_(ServiceIntakeSettings()),
      dispatcher_(catalogue_, handlers_, console, std::move(databasePath), std::move(programFolder)) {}

void EventService::Handle(const HttpRequest& request, HttpReply& reply) {
  Reached reached;
  try {
    Serve(request, reply, reached);
  } catch (const std::exception& failure) {
    reply = FailureReply(500, failure.what());
  } catch (...) {
    reply = FailureReply(500, "Erro desconhecido no servidor.");
  }
  reply.group = std::move(reached.group);
  reply.event = std::move(reached.event);
}

void EventService::Serve(const HttpRequest& request, HttpReply& reply, Reached& reached) {
  IntakeOutcome intake = ReadRequestParams(request, intakeSettings_);
  DispatchRequest dispatchRequest = DispatchRequestOf(request);
  if (const auto match = catalogue_.FindEvent(intake.groupName, intake.eventName); match.event) {
    reached.group = match.group->Name();
    reached.event = match.event->Name;
  }

  if (intake.flags.asynchronous) {
    WriteAsyncAcknowledgement(intake.flags, kServiceEncoding, reply);
    auto pending = std::make_shared<std::pair<DispatchRequest, IntakeOutcome>>(std::move(dispatchRequest),
                                                                               std::move(intake));
    reply.afterWrite = [this, pending]() noexcept {
      try {
        dispatcher_.Run(pending->first, pending->second, false);
      } catch (...) {
        // The client has its acknowledgement; the outcome is not sent.
      }
    };
    return;
  }

  DispatchOutcome outcome = dispatcher_.Run(dispatchRequest, intake, true);
  switch (outcome.kind) {
    case DispatchOutcome::Kind::StatusPage:
      WriteStatusPage(kServiceEncoding, reply);
      return;
    case DispatchOutcome::Kind::File:
      reply = std::move(outcome.file);
      return;
    case DispatchOutcome::Kind::Reply:
      WriteEventReply(outcome, *intake.params, intake.flags, kServiceEncoding, reply);
      return;
  }
}

}  // namespace quelvar::service
