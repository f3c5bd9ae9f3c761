#include "client/client_options.h"

#include <string_view>

#include "formats/errors.h"
#include "formats/wire_values.h"

namespace quelvar::client {
namespace {

std::uint16_t ReadPort(const std::string& text) {
  std::int64_t port = 0;
  try {
    port = ParseInt64(text);
  } catch (const Error&) {
    port = 0;
  }
  if (port < 1 || port > 65535) throw Error("--port needs a number from 1 to 65535, not '" + text + "'");
  return static_cast<std::uint16_t>(port);
}

}  // namespace

std::string UsageText() {
  return "usage: quelvar-client [--host H] [--port P] [--tls [--ca-file F]] [--format table|csv|json] [--table-file F] [--items-file F]\n"
         "                      GROUP EVENT [NAME[:TYPE]=VALUE ...]\n"
         "       quelvar-client [--host H] [--port P] events [GROUP]\n"
         "       quelvar-client --help | --version\n"
         "\n"
         "Calls one server event as the desktop clients do and prints its answer.\n"
         "  --host H          server address (default 127.0.0.1)\n"
         "  --port P          server port (default 7780)\n"
         "  --tls             HTTPS: the server's TLS port, its certificate verified\n"
         "  --ca-file F       PEM certificates to trust for it (default: the system's)\n"
         "  --user U, --password P   the Basic credentials (default: the built-in pair)\n"
         "  --format F        table (default), csv or json\n"
         "  --table-file F    send the rows of a CSV or JSON file as the record set \"Tabela\"\n"
         "  --items-file F    send a document's items the same way as \"TabelaDet\"\n"
         "  NAME=VALUE        a text parameter; NAME:TYPE=VALUE with TYPE one of\n"
         "                    string, memo, int, largeint, float, bool, date, datetime\n"
         "  events            list the groups, or the events of GROUP and their parameters\n"
         "\n"
         "Exit status: 0 done; 1 bad command line or input file; 2 server not reached;\n"
         "3 HTTP error status; 4 the answer is a failure.\n";
}

ClientOptions ReadClientOptions(const std::vector<std::string>& args) {
  ClientOptions options;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      positional.push_back(arg);
      continue;
    }
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw Error(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--host") {
      options.server.host = value();
      if (options.server.host.empty()) throw Error("--host needs a name or address");
    } else if (arg == "--port") {
      options.server.port = ReadPort(value());
    } else if (arg == "--tls") {
      if (inlineValue) throw Error("--tls takes no value");
      options.server.tls = true;
    } else if (arg == "--ca-file") {
      options.server.caFile = value();
      if (options.server.caFile.empty()) throw Error("--ca-file needs a file name");
    } else if (arg == "--user") {
      options.server.user = value();
    } else if (arg == "--password") {
      options.server.password = value();
    } else if (arg == "--format") {
      options.format = OutputFormatNamed(value());
    } else if (arg == "--table-file") {
      options.tableFile = value();
    } else if (arg == "--items-file") {
      options.itemsFile = value();
    } else {
      throw Error("unknown option " + arg);
    }
  }
  if (options.help || options.version) return options;
  if (!positional.empty() && positional.front() == "events") {
    if (positional.size() > 2) throw Error("events takes at most one group name");
    options.listEvents = true;
    if (positional.size() == 2) options.group = positional[1];
    return options;
  }
  if (positional.size() < 2) throw Error("a group and an event are needed");
  options.group = positional[0];
  options.event = positional[1];
  options.arguments.assign(positional.begin() + 2, positional.end());
  return options;
}

}  // namespace quelvar::client
