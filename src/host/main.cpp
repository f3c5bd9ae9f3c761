// Program entry of the server: options, single instance, the optional
// database creation, then either the operator window or the headless run.

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>

#include "host/database_bootstrap.h"
#include "host/headless_console.h"
#include "host/host_texts.h"
#include "host/server_control.h"
#include "host/settings.h"
#include "host/single_instance.h"
#ifdef QUELVAR_WITH_WINDOW
#include "host/window_program.h"
#endif

namespace {

using quelvar::host::HeadlessConsole;
using quelvar::host::ServerControl;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

#ifdef QUELVAR_WITH_WINDOW
constexpr std::string_view kWindowNote =
    "Without --headless the operator window opens when a display is available\n"
    "(DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM set); otherwise the server runs\n"
    "as with --headless. Closing the window stops the server.\n";
#else
constexpr std::string_view kWindowNote = "This build has no operator window: it always runs as with --headless.\n";
#endif

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
    "\n";

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
      std::cerr << "quelvar-server: unknown option '" << arg << "'\n\n" << kUsage << kWindowNote;
      return false;
    }
  }
  return true;
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

int RunHeadless(const std::filesystem::path& programFolder, const sigset_t& signals) {
  const auto settings = quelvar::host::ReadStartupSettings(programFolder);
  const quelvar::host::HostSettings& values = settings.values;
  if (!quelvar::host::DatabaseFileExists(values.localDb)) {
    std::cerr << quelvar::host::WithLineBreaks(quelvar::host::kDatabaseMissingMessage) << "\n";
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
  ServerControl server(console, programFolder);
  server.SetDatabasePath(values.localDb);
  server.SetPort(values.port);
  try {
    server.Start();
  } catch (const std::exception& failure) {
    std::cerr << "quelvar-server: the listener cannot start on port " << values.port << ": " << failure.what()
              << "\n";
    return kExitFailure;
  }
  std::cout << server.Caption() << "\n";
  if (server.BoundPort() != values.port) {
    std::cout << "quelvar-server: listening on port " << server.BoundPort() << "\n";
  }
  std::cout.flush();

  auto printCounter = [&console] {
    std::cout << quelvar::host::kCounterLabel << ": " << console.count() << "\n";
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
  server.Stop();
  printCounter();
  std::cerr.flush();
  std::_Exit(0);
}


// Every connection holds a descriptor: take the whole allowance the system
// grants (the soft limit is often far below the hard one).
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

#ifdef QUELVAR_WITH_WINDOW
// A display the window can open on.
bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return kExitUsage;
  if (options.help) {
    std::cout << kUsage << kWindowNote;
    return 0;
  }
  if (options.version) {
    std::cout << "quelvar-server " << QUELVAR_VERSION << " (Quelvar " << quelvar::host::kServerVersion << ")\n";
    return 0;
  }

  // SIGINT, SIGTERM and SIGUSR1 are blocked in every thread (before any is
  // started) and taken by sigwait: in the headless run's main thread, or by
  // the window's signal thread, which closes the window.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  RaiseOpenFileLimit();

  try {
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
#ifdef QUELVAR_WITH_WINDOW
    if (!options.headless && DisplayAvailable()) {
      return quelvar::host::RunOperatorWindow(argc, argv, programFolder, signals);
    }
#endif
    return RunHeadless(programFolder, signals);
  } catch (const std::exception& failure) {
    std::cerr << "quelvar-server: " << failure.what() << "\n";
    return kExitFailure;
  }
}
