// quelvar-client: calls the server's events from the command line.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "client/answer_output.h"
#include "client/client_options.h"
#include "client/event_answer.h"
#include "client/event_argument.h"
#include "client/event_listing.h"
#include "client/event_request.h"
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

int ListEvents(const ClientOptions& options) {
  const bool groups = options.group.empty();
  EventAnswer answer = ReadEventAnswer(
      CallEvent(options.server, options.group, groups ? "GetServerEventsList" : "GETEVENTS", {}), {});
  if (!groups && !answer.failed) {
    const OutputValue* error = Output(answer, "Error");
    if (error && EqualsIgnoreCase(Trim(error->text), "true")) {
      const OutputValue* message = Output(answer, "MessageError");
      answer.failed = true;
      answer.failureReason = message ? message->text : "the group was not found";
    }
  }
  if (answer.failed) return Report(answer);
  const OutputValue* result = Output(answer, "Result");
  if (!result) {
    std::cerr << "quelvar-client: the answer holds no list\n";
    return kFailureAnswer;
  }
  std::cout << (groups ? GroupListText(result->text) : EventListText(result->text));
  return kDone;
}

int CallOne(const ClientOptions& options) {
  std::vector<ParamField> params;
  std::vector<std::string> sent;
  for (const std::string& argument : options.arguments) {
    EventArgument a = ReadEventArgument(argument);
    sent.push_back(a.name);
    params.emplace_back(std::move(a.name), std::move(a.jsonText));
  }
  // Record sets from rows files: the header or single record, and a document's items.
  for (const auto& [file, name] : {std::pair{options.tableFile, "Tabela"}, std::pair{options.itemsFile, "TabelaDet"}}) {
    if (!file) continue;
    params.emplace_back(name, StringParamText(name, RecordSetFromFile(*file)));
    sent.push_back(name);
  }
  EventAnswer answer = ReadEventAnswer(CallEvent(options.server, options.group, options.event, params), sent);
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
