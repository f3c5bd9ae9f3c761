#pragma once
// The command line of quelvar-client:
//   quelvar-client [--host H] [--port P] [--format table|csv|json] [--table-file F] [--items-file F]
//                  GROUP EVENT [NAME[:TYPE]=VALUE ...]
//   quelvar-client [--host H] [--port P] events [GROUP]
//   quelvar-client --help | --version
// Options may also be written "--name=value".

#include <optional>
#include <string>
#include <vector>

#include "client/answer_output.h"
#include "client/event_request.h"

namespace quelvar::client {

struct ClientOptions {
  ServerAddress server;
  OutputFormat format = OutputFormat::Table;
  std::optional<std::string> tableFile;
  std::optional<std::string> itemsFile;  // the items of a document, sent as "TabelaDet"
  bool help = false;
  bool version = false;
  bool listEvents = false;  // "events [GROUP]"
  std::string group;
  std::string event;
  std::vector<std::string> arguments;  // NAME[:TYPE]=VALUE
};

// Raises Error with a message for the person at the keyboard.
ClientOptions ReadClientOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace quelvar::client
