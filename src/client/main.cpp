// quelvar-client: calls the server's events from the command line.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "client/answer_output.h"
#include "client/call_parameters.h"
#include "client/client_options.h"
#include "client/event_answer.h"
#include "client/event_argument.h"
#include "client/event_listing.h"
#include "client/event_request.h"
#include "client/known_events.h"
#include "client/table_file.h"
#include "formats/errors.h"
#include "formats/text_codec.h"

namespace quelvar::client {
namespace {

enum ExitCode { kDone = 0, kBadInput = 1, kUnreachable = 2, kHttpError = 3, kFailureAnswer = 4 };

int Report(const EventAnswer& answer) {
  if (!answer.failed) return kDone;
  std::cerr << "quelvar-client: " << Lines(answer.failureReason) << "\n";
  return answer.status >= 400 ? kHttpError : kFailureAnswer;
}

const OutputValue* Output(const EventAnswer& answer, std::string_view name) {
  for (const OutputValue& o : answer.outputs)
    if (EqualsIgnoreCase(o.name, name)) return &o;
  return nullptr;
}

// The answer of "GetServerEventsList" (no group) or of "GETEVENTS" for the
// group, a group the server does not hold counting as a failure.
EventAnswer ListingAnswer(const ServerAddress& server, const std::string& group) {
  const bool groups = group.empty();
  EventAnswer answer = ReadEventAnswer(CallEvent(server, group, groups ? "GetServerEventsList" : "GETEVENTS", {}), {});
  if (!groups && !answer.failed) {
    const OutputValue* error = Output(answer, "Error");
    if (error && EqualsIgnoreCase(Trim(error->text), "true")) {
      const OutputValue* message = Output(answer, "MessageError");
      answer.failed = true;
      answer.failureReason = message ? message->text : "the group was not found";
    }
  }
  if (!answer.failed && !Output(answer, "Result")) {
    answer.failed = true;
    answer.failureReason = "the answer holds no list";
  }
  return answer;
}

int ListEvents(const ClientOptions& options) {
  const EventAnswer answer = ListingAnswer(options.server, options.group);
  if (answer.failed) return Report(answer);
  const std::string& list = Output(answer, "Result")->text;
  std::cout << (options.group.empty() ? GroupListText(list) : EventListText(list));
  return kDone;
}

// The group's declared events: from the catalogue built into the client when
// it holds the group and the event (no request), otherwise from the server's
// listing; empty when neither has them (the call then goes with every
// parameter as input).
std::vector<DeclaredEvent> DeclaredEvents(const ClientOptions& options) {
  if (auto known = CatalogueDeclarations(options.group, options.event)) return std::move(*known);
  const EventAnswer answer = ListingAnswer(options.server, options.group);
  if (answer.failed) return {};
  try {
    return ReadEventDeclarations(Output(answer, "Result")->text);
  } catch (const Error&) {
    return {};
  }
}

int CallOne(const ClientOptions& options) {
  CallInputs inputs;
  for (const std::string& argument : options.arguments) inputs.arguments.push_back(ReadEventArgument(argument));
  // Record sets from rows files: the header or single record, and a document's items.
  for (const auto& [file, name] : {std::pair{options.tableFile, "Tabela"}, std::pair{options.itemsFile, "TabelaDet"}}) {
    if (file) inputs.recordSets.emplace_back(name, RecordSetFromFile(*file));
  }
  const std::vector<DeclaredEvent> events = DeclaredEvents(options);
  const CallParameters call = PlanCallParameters(options.group, FindDeclaredEvent(events, options.event), inputs);
  EventAnswer answer =
      ReadEventAnswer(CallEvent(options.server, options.group, options.event, call.fields), call.sentNames,
                      options.group, options.event);
  // A failure is told once, on standard error; the other outputs still print.
  if (answer.failed) {
    std::erase_if(answer.outputs, [&answer](const OutputValue& o) { return !o.isTable && o.text == answer.failureReason; });
    if (answer.outputs.empty()) return Report(answer);
  }
  std::cout << FormatAnswer(answer, options.format);
  return Report(answer);
}

int Run(const std::vector<std::string>& args) {
  ClientOptions options;
  try {
    options = ReadClientOptions(args);
  } catch (const Error& e) {
    std::cerr << "quelvar-client: " << e.what() << "\n\n" << UsageText();
    return kBadInput;
  }
  if (options.help) {
    std::cout << UsageText();
    return kDone;
  }
  if (options.version) {
    std::cout << "quelvar-client " << QUELVAR_VERSION << "\n";
    return kDone;
  }
  try {
    return options.listEvents ? ListEvents(options) : CallOne(options);
  } catch (const TransportError& e) {
    std::cerr << "quelvar-client: " << e.what() << "\n";
    return kUnreachable;
  } catch (const std::exception& e) {
    std::cerr << "quelvar-client: " << e.what() << "\n";
    return kBadInput;
  }
}

}  // namespace
}  // namespace quelvar::client

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const int code = quelvar::client::Run(std::vector<std::string>(argv + 1, argv + argc));
  std::cout.flush();
  curl_global_cleanup();
  return code;
}
