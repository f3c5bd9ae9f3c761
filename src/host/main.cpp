// Program entry of the server: single instance, settings, database check,
// listener start, and the stop on SIGINT/SIGTERM.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "host/database_bootstrap.h"
#include "host/headless_console.h"
#include "host/settings.h"
#include "host/single_instance.h"
#include "service/database_path.h"
#include "service/event_service.h"
#include "service/listener.h"
#include "service/shared_text.h"

namespace {

using quelvar::host::HeadlessConsole;
using quelvar::service::Listener;
using quelvar::service::ListenerError;
using quelvar::service::SharedText;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// `FVersao` once the listener has started.
constexpr std::string_view kServerVersion = "1.5";

// What the operator window shows when the database file is missing ("\r" are
// line breaks of the message box).
constexpr std::string_view kDatabaseMissingMessage =
    "Banco de dados não localizado na pasta.\r\rInforme corretamente na tela a seguir  ";

// The request counter's label in the operator window.
constexpr std::string_view kCounterLabel = "Qtd. de acessos ao banco de dados";

constexpr std::string_view kUsage =
    "Usage: quelvar-server [--headless] [--create-database]\n"
    "       quelvar-server --version | --help\n"
    "\n"
    "Serves the Quelvar database over HTTP on the port set in Config1.ini, in the\n"
    "folder of the executable (section INDICE: LocalQuelvarDB = database file,\n"
    "Porta = port). The file is written with default values when it is missing.\n"
    "\n"
    "  --headless         no window: the operator log goes to standard error;\n"
    "                     SIGINT or SIGTERM stops the listener and ends with code 0;\n"
    "                     the request counter is printed on standard output at the\n"
    "                     end and on SIGUSR1\n"
    "  --create-database  before starting, write the default Config1.ini when it is\n"
    "                     missing and create the database file it names from the\n"
    "                     built-in schema when that file does not exist\n"
    "  --version          print the version and exit\n"
    "  --help             print this text and exit\n"
    "\n"
    "This build has no operator window: it always runs as with --headless.\n";

struct Options {
  bool headless = false;
  bool createDatabase = false;
  bool version = false;
  bool help = false;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--create-database") {
      options.createDatabase = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else {
      std::cerr << "quelvar-server: unknown option '" << arg << "'\n\n" << kUsage;
      return false;
    }
  }
  return true;
}

std::string WithLineBreaks(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r') c = '\n';
  }
  return out;
}

bool IsExistingFile(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// --create-database: the default settings file when missing, then the database
// file it names when that file does not exist.
void CreateDatabase(const std::filesystem::path& programFolder) {
  quelvar::host::WriteDefaultSettingsIfMissing(programFolder);
  const auto ini = quelvar::host::IniFile::Load(programFolder / std::string(quelvar::host::kConfigFileName));
  const std::string database =
      ini.Get(quelvar::host::kConfigSection, quelvar::host::kDatabaseKey).value_or("");
  if (database.empty()) {
    throw std::runtime_error(std::string(quelvar::host::kConfigFileName) + " names no database file (" +
                             std::string(quelvar::host::kDatabaseKey) + " is empty)");
  }
  std::error_code ec;
  if (!std::filesystem::exists(database, ec)) quelvar::host::CreateDatabaseFromSchema(database);
}

// Stop, set the request handler, set the port, start. `FVersao` becomes the
// version text when the start succeeds and keeps its value when it fails.
void StartListener(Listener& listener, quelvar::service::RequestHandler& handler, int port,
                   SharedText& version) {
  listener.SetActive(false);
  listener.SetHandler(handler);
  if (port < 0 || port > 65535) {
    throw ListenerError("port " + std::to_string(port) + " is outside the range 0-65535");
  }
  listener.SetPort(static_cast<std::uint16_t>(port));
  const auto previous = version.get();
  version.set(std::string(kServerVersion));  // in place before the first request arrives
  try {
    listener.SetActive(true);
  } catch (...) {
    version.set(*previous);
    throw;
  }
}

int Run(const Options& options, const sigset_t& signals) {
  quelvar::host::SingleInstanceLock instance;
  switch (instance.Acquire()) {
    case quelvar::host::SingleInstanceLock::Outcome::HeldElsewhere:
      return 0;  // another copy runs: end at once, silently
    case quelvar::host::SingleInstanceLock::Outcome::Unavailable:
      std::cerr << "quelvar-server: warning: single-instance lock not held: " << instance.error() << "\n";
      break;
    case quelvar::host::SingleInstanceLock::Outcome::Acquired:
      break;
  }

  const std::filesystem::path programFolder = quelvar::host::ProgramFolder();
  if (options.createDatabase) CreateDatabase(programFolder);

  const auto settings = quelvar::host::ReadStartupSettings(programFolder);
  const quelvar::host::HostSettings& values = settings.values;
  if (!IsExistingFile(values.localDb)) {
    std::cerr << WithLineBreaks(kDatabaseMissingMessage) << "\n";
    const std::string config = quelvar::host::FolderText(programFolder) + std::string(quelvar::host::kConfigFileName);
    if (settings.createdDefaults) {
      std::cerr << "quelvar-server: " << config << " did not exist and has been written with default values.\n";
    } else if (values.localDb.empty()) {
      std::cerr << "quelvar-server: " << config << " names no database file (" << quelvar::host::kDatabaseKey
                << ").\n";
    } else {
      std::cerr << "quelvar-server: the database file " << values.localDb << " does not exist.\n";
    }
    std::cerr << "Set " << quelvar::host::kDatabaseKey << " in " << config
              << ", or start with --create-database to create the database file it names.\n";
    return kExitFailure;
  }

  HeadlessConsole console;
  auto databasePath = std::make_shared<quelvar::service::DatabasePath>(values.localDb);
  quelvar::service::EventService service(console, programFolder, databasePath);
  Listener listener(service);
  SharedText version;  // `FVersao`: empty until the listener has started

  try {
    StartListener(listener, service, values.port, version);
  } catch (const std::exception& failure) {
    std::cerr << "quelvar-server: the listener cannot start on port " << values.port << ": " << failure.what()
              << "\n";
    return kExitFailure;
  }
  std::cout << "Servidor do Banco de Dados do Quelvar " << *version.get() << " - Porta " << values.port << "\n";
  if (listener.BoundPort() != values.port) {
    std::cout << "quelvar-server: listening on port " << listener.BoundPort() << "\n";
  }
  std::cout.flush();

  auto printCounter = [&console] {
    std::cout << kCounterLabel << ": " << console.count() << "\n";
    std::cout.flush();
  };
  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (received == SIGUSR1) {
      printCounter();
      continue;
    }
    break;  // SIGINT or SIGTERM
  }
  // Stop the listener, then end at once: requests in progress are cut off.
  listener.StopNow();
  printCounter();
  std::cerr.flush();
  std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return kExitUsage;
  if (options.help) {
    std::cout << kUsage;
    return 0;
  }
  if (options.version) {
    std::cout << "quelvar-server " << QUELVAR_VERSION << " (Quelvar " << kServerVersion << ")\n";
    return 0;
  }

  // SIGINT, SIGTERM and SIGUSR1 are blocked in every thread and taken by
  // sigwait in Run.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  try {
    return Run(options, signals);
  } catch (const std::exception& failure) {
    std::cerr << "quelvar-server: " << failure.what() << "\n";
    return kExitFailure;
  }
}
