#include "service/event_dispatch.h"

#include <exception>
#include <utility>

#include "formats/base64.h"
#include "formats/errors.h"
#include "formats/text_codec.h"
#include "service/file_fallback.h"
#include "service/reserved_commands.h"

namespace quelvar::service {

DispatchRequest DispatchRequestOf(const HttpRequest& request) {
  DispatchRequest out;
  out.method = request.requestType;
  out.path = request.path;
  out.referer = request.referer;
  out.requestText = request.requestText;
  if (!request.peerIp.empty()) out.client.ip = request.peerIp;
  if (!request.peerIpVersion.empty()) out.client.ipVersion = request.peerIpVersion;
  out.client.port = request.peerPort;
  if (!request.userAgent.empty()) out.client.userAgent = request.userAgent;
  return out;
}

EventDispatcher::EventDispatcher(const EventCatalogue& catalogue, const HandlerRegistry& handlers,
                                 OperatorConsole& console, std::shared_ptr<const DatabasePath> databasePath,
                                 std::filesystem::path programFolder)
    : catalogue_(catalogue),
      handlers_(handlers),
      console_(console),
      databasePath_(std::move(databasePath)),
      programFolder_(std::move(programFolder)) {}

DispatchOutcome EventDispatcher::Run(const DispatchRequest& request, IntakeOutcome& intake,
                                     bool allowFileFallback) const {
  DispatchOutcome outcome;
  bool answered = false;
  {
    TDM module(console_, databasePath_, programFolder_);
    module.WelcomeMessage = intake.welcomeMessage;
    module.ClientInfo = request.client;

    if (intake.eventName.empty() && intake.groupName.empty()) {
      outcome.kind = DispatchOutcome::Kind::StatusPage;
      return outcome;
    }

    if (const auto command = ReservedCommandOf(intake.eventName)) {
      answered = RunReservedCommand(*command, catalogue_, intake.groupName, *intake.params, outcome);
    } else if (const auto match = catalogue_.FindEvent(intake.groupName, intake.eventName); match.event) {
      RunEvent(*match.group, *match.event, request, module, intake, outcome);
      answered = true;
    }
  }  // the module is freed here, before any reply is written

  if (answered) return outcome;
  if (allowFileFallback) {
    if (auto file = FileFallback(programFolder_, *databasePath_->get(), request.path, request.referer,
                                 request.requestText)) {
      outcome.kind = DispatchOutcome::Kind::File;
      outcome.file = std::move(*file);
      return outcome;
    }
  }
  if (ReservedCommandOf(intake.eventName)) return outcome;  // its own answer stands
  outcome.result = std::string(kEventNotFound);
  outcome.status = 404;
  outcome.mode = TJsonMode::jmPureJSON;
  outcome.noEventNamed = intake.eventName.empty();
  return outcome;
}

void EventDispatcher::RunEvent(const TDWServerEvents& group, const TDWEvent& event, const DispatchRequest& request,
                               TDM& module, IntakeOutcome& intake, DispatchOutcome& outcome) const {
  outcome.mode = TJsonMode::jmPureJSON;
  if (event.Routes.Empty()) {
    outcome.result = "Acceptable HTTP methods not defined on server";
    outcome.status = 500;
    return;
  }
  if (!event.Routes.Accepts(request.method)) {
    outcome.result = "Request rejected. Acceptable HTTP methods: " + event.Routes.MethodsText();
    outcome.status = 403;
    return;
  }

  TDWParams& params = *intake.params;
  group.CreateDWParams(event.Name, params);
  std::string result;
  bool failed = false;
  try {
    const EventHandler* handler = handlers_.Find(group.Name(), event.Name);
    if (!handler || !*handler) throw Error(std::string(kEventNotAvailable) + group.Name() + "." + event.Name);
    (*handler)(module, params, result);
    outcome.mode = event.JsonMode;
  } catch (const std::exception& failure) {
    result = failure.what();
    failed = true;
  } catch (...) {
    result = "Erro desconhecido no evento " + event.Name + ".";
    failed = true;
  }
  if (failed) {
    if (params.GetRecName("dwencodestrings")) result = EncodeText(result);
    if (outcome.status == 200) outcome.status = 500;
  }
  if (Trim(result).empty()) result = std::string(kResultOk);
  outcome.result = std::move(result);
}

}  // namespace quelvar::service
