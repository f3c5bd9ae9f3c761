// Program entry of the server: options, single instance, the optional
// database creation, then either the operator window or the headless run.

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "data/engine_memory.h"
#include "host/database_bootstrap.h"
#include "host/backup_schedule.h"
#include "host/headless_console.h"
#include "host/journal_settings.h"
#include "host/listener_settings.h"
#include "host/replica_config.h"
#include "host/replication_start.h"
#include "host/log_format.h"
#include "host/panel_wiring.h"
#include "panel/password_hash.h"
#include "panel/recent_log.h"
#include "host/host_texts.h"
#include "host/server_control.h"
#include "host/settings.h"
#include "host/single_instance.h"
#include "host/startup_lines.h"
#ifdef QUELVAR_WITH_WINDOW
#include "host/window_program.h"
#endif
#include "replica/replica_restore.h"

namespace {

using quelvar::host::HeadlessConsole;
using quelvar::host::LogLevel;
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
    "       quelvar-server --restore-replica SOURCE [--at \"YYYY-MM-DD hh:mm:ss\"] --to FILE\n"
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
    "  --data-folder DIR  keep Config1.ini, the database (a relative LocalQuelvarDB\n"
    "                     is taken from here) and Backup/ in DIR instead of the\n"
    "                     folder of the executable\n"
    "  --no-self-update   AtualizaServidor never replaces the program (for\n"
    "                     installations updated by their system package)\n"
    "  --restore-replica SOURCE\n"
    "                     rebuild the database from a replica (a folder or\n"
    "                     s3://bucket/prefix, with the S3 settings of Config1.ini)\n"
    "                     into the new file given with --to, as of the newest\n"
    "                     commit at or before --at (local time; default: the\n"
    "                     newest); prints the generation and the last commit\n"
    "                     restored\n"
    "  --hash-password    read the operator panel's password from standard input\n"
    "                     and print the value of SenhaPainel for Config1.ini\n"
    "  --version          print the version and exit\n"
    "  --help             print this text and exit\n"
    "\n";

struct Options {
  bool headless = false;
  bool createDatabase = false;
  bool version = false;
  bool help = false;
  bool selfUpdate = true;
  bool hashPassword = false;
  std::optional<std::filesystem::path> dataFolder;
  std::optional<std::string> restoreSource;
  std::optional<std::string> restoreAt;
  std::optional<std::filesystem::path> restoreTo;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--create-database") {
      options.createDatabase = true;
    } else if (arg == "--data-folder" && i + 1 < argc) {
      options.dataFolder = argv[++i];
    } else if (arg.rfind("--data-folder=", 0) == 0) {
      options.dataFolder = std::string(arg.substr(14));
    } else if (arg == "--restore-replica" && i + 1 < argc) {
      options.restoreSource = argv[++i];
    } else if (arg == "--at" && i + 1 < argc) {
      options.restoreAt = argv[++i];
    } else if (arg == "--to" && i + 1 < argc) {
      options.restoreTo = argv[++i];
    } else if (arg == "--no-self-update") {
      options.selfUpdate = false;
    } else if (arg == "--hash-password") {
      options.hashPassword = true;
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
  const std::string file = quelvar::host::DatabaseFileFor(programFolder, database);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) quelvar::host::CreateDatabaseFromSchema(file);
}

// The folder given with --data-folder, made absolute; it must exist.
std::filesystem::path DataFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(folder, ec);
  if (ec || !std::filesystem::is_directory(absolute, ec)) {
    throw std::runtime_error("the data folder " + folder.string() + " does not exist");
  }
  return absolute.lexically_normal();
}

// --restore-replica: the database rebuilt from a replica into a new file.
int RestoreReplica(const Options& options) {
  if (!options.restoreTo) {
    std::cerr << "quelvar-server: --restore-replica needs --to FILE (a file that does not exist yet)\n";
    return kExitUsage;
  }
  std::optional<std::int64_t> at;
  if (options.restoreAt) {
    at = quelvar::replica::ParseLocalMoment(*options.restoreAt);
    if (!at) {
      std::cerr << "quelvar-server: --at \"" << *options.restoreAt << "\" is not a moment YYYY-MM-DD hh:mm:ss\n";
      return kExitUsage;
    }
  }
  try {
    const std::filesystem::path folder =
        options.dataFolder ? DataFolder(*options.dataFolder) : quelvar::host::ProgramFolder();
    const std::string& source = *options.restoreSource;
    const auto access = quelvar::host::ReadS3Access(folder, quelvar::replica::IsS3Target(source));
    const auto store = quelvar::replica::OpenStore(source, access);
    const auto outcome = quelvar::replica::RestoreFromReplica(*store, at, *options.restoreTo);
    std::cout << "restored " << options.restoreTo->string() << " from " << source << ": generation "
              << outcome.generation << ", last commit " << quelvar::replica::LocalMomentText(outcome.lastCommitMs)
              << " (" << outcome.segments << " segment(s) replayed); integrity check ok\n";
    if (!outcome.stop.empty()) {
      std::cout << "the replay stopped early, at " << outcome.stop << "; later commits are not in the file\n";
    }
    return 0;
  } catch (const std::exception& failure) {
    std::string message = failure.what();
    for (char& c : message) {
      if (c == '\r') c = ' ';
    }
    std::cerr << "quelvar-server: the restore from " << *options.restoreSource << " failed: " << message << "\n";
    return kExitFailure;
  }
}

// How long a stop signal leaves the requests in flight to finish.
constexpr std::chrono::seconds kStopGrace{10};

// The start-up refusals of the headless run: the message the window would
// show, then what is wrong and how to mend it. True when the start may go on.
bool UsableSettings(const std::filesystem::path& programFolder, const quelvar::host::StartupSettings& settings,
                    const std::string& databaseFile) {
  const quelvar::host::HostSettings& values = settings.values;
  const std::string config = quelvar::host::FolderText(programFolder) + std::string(quelvar::host::kConfigFileName);
  if (!quelvar::host::DatabaseFileExists(databaseFile)) {
    std::cerr << quelvar::host::WithLineBreaks(quelvar::host::kDatabaseMissingMessage) << "\n";
    if (settings.createdDefaults) {
      std::cerr << "quelvar-server: " << config << " did not exist and has been written with default values.\n";
    } else if (values.localDb.empty()) {
      std::cerr << "quelvar-server: " << config << " names no database file (" << quelvar::host::kDatabaseKey
                << ").\n";
    } else {
      std::cerr << "quelvar-server: the database file " << databaseFile << " does not exist.\n";
    }
    std::cerr << "Set " << quelvar::host::kDatabaseKey << " in " << config
              << ", or start with --create-database to create the database file it names.\n";
    return false;
  }
  if (!quelvar::host::IsServicePort(values.port)) {
    std::cerr << quelvar::host::WithLineBreaks(quelvar::host::kPortInvalidMessage) << "\n";
    std::cerr << "quelvar-server: " << quelvar::host::kPortKey << " in " << config;
    if (settings.portText) {
      std::cerr << " is \"" << *settings.portText << "\": not a port from 1 to 65535.\n";
    } else {
      std::cerr << " is missing.\n";
    }
    return false;
  }
  return true;
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "a signal";
  }
}

int RunHeadless(const std::filesystem::path& programFolder, const sigset_t& signals,
                quelvar::host::SelfUpdate selfUpdate) {
  const auto settings = quelvar::host::ReadStartupSettings(programFolder);
  const quelvar::host::HostSettings& values = settings.values;
  const std::string databaseFile = quelvar::host::DatabaseFileFor(programFolder, values.localDb);
  if (!UsableSettings(programFolder, settings, databaseFile)) return kExitFailure;

  quelvar::replica::ReplicaSettings replication;
  try {
    replication = quelvar::host::ReadReplicaSettings(programFolder);
  } catch (const std::exception& failure) {
    std::cerr << "quelvar-server: the replication cannot start: " << failure.what() << "\n";
    return kExitFailure;
  }

  HeadlessConsole console;
  quelvar::panel::RecentLog recentLog(console, quelvar::host::PanelLevelOf);
  // A line of the host itself: on standard error with its level, and in the panel's log.
  auto say = [&console, &recentLog](LogLevel level, const std::string& text) {
    console.Write(level, text);
    recentLog.Keep(text, std::string(quelvar::host::LevelName(level)));
  };
  ServerControl server(recentLog, programFolder, selfUpdate);
  quelvar::host::PanelWiring panel(server, recentLog);
  server.SetDatabasePath(values.localDb);
  server.SetPort(values.port);
  // The replication before the listener: from the first request on, the log
  // is folded only by the replicator, so after a crash the replicas can go on
  // with their generations.
  quelvar::host::StartReplication(server, replication);  // the server holds it (the panel may start it anew)
  try {
    server.Start();
  } catch (const std::exception& failure) {
    std::cerr << "quelvar-server: the listener cannot start on port " << values.port << ": " << failure.what()
              << "\n";
    return kExitFailure;
  }
  std::cout << server.Caption() << "\n";
  std::cout.flush();
  std::string address = "all local addresses";
  try {
    const std::string configured = quelvar::host::LoadListenerOptions(programFolder).address;
    if (!configured.empty()) address = configured;
  } catch (const std::exception&) {
    // Read once already by the start; the line keeps the default.
  }
  if (server.BoundTlsPort() != 0) address += " (TLS port " + std::to_string(server.BoundTlsPort()) + ")";
  const quelvar::service::DescriptorBudget descriptors = server.Listener().Descriptors();
  say(LogLevel::Info, quelvar::host::StartupLine({.version = QUELVAR_VERSION,
                                                 .address = address,
                                                 .port = server.BoundPort(),
                                                 .databaseFile = server.DatabaseFile(),
                                                 .journalMode = std::string(quelvar::host::JournalModeName(
                                                     quelvar::host::ReadJournalSetting(programFolder))),
                                                 .connections = descriptors.connections,
                                                 .openFileLimit = descriptors.limit,
                                                 .reservedFiles = descriptors.reserve}));
  quelvar::host::BackupScheduler backups(server);
  try {
    backups.Start(quelvar::host::ReadBackupSchedule(programFolder));
  } catch (const std::exception& failure) {
    say(LogLevel::Error, std::string("scheduled backups are off: ") + failure.what());
  }

  auto printCounter = [&console] {
    std::cout << quelvar::host::kCounterLabel << ": " << console.count() << "\n";
    std::cout.flush();
  };
  int received = 0;
  for (;;) {
    if (sigwait(&signals, &received) != 0) continue;
    if (received == SIGUSR1) {
      printCounter();
      continue;
    }
    break;  // SIGINT or SIGTERM
  }
  // The graceful stop: no new connections; the requests in flight get up to
  // kStopGrace to finish; whatever is left then is cut off as the process ends.
  server.StopAccepting();
  panel.Wake();
  const std::size_t open = server.OpenConnections();
  std::string note = std::string(SignalName(received));
  if (open > 0) {
    say(LogLevel::Info, "stopping on " + note + ": no new connections; waiting up to " +
                            std::to_string(kStopGrace.count()) + " s for " + std::to_string(open) +
                            " open connection(s)");
  }
  backups.Stop();
  if (!server.WaitIdle(kStopGrace)) {
    note += ", " + std::to_string(server.OpenConnections()) + " connection(s) cut off";
  }
  // The saves answered so far go to the replicas before the end.
  if (const auto running = server.Replication()) running->Stop();
  printCounter();
  say(LogLevel::Info, quelvar::host::ShutdownLine(QUELVAR_VERSION, console.count(), note));
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

// --hash-password: the password is the whole of standard input, without one
// final line break.
int HashPassword() {
  std::string password((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  if (!password.empty() && password.back() == '\n') password.pop_back();
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) {
    std::cerr << "quelvar-server: no password on standard input\n";
    return kExitUsage;
  }
  std::cout << quelvar::panel::HashPassword(password) << "\n";
  return 0;
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
  // Before the database engine is first used: its allocations are counted,
  // so that a free query is held to its memory budget.
  quelvar::InstallEngineMemoryAccounting();
  Options options;
  if (!ParseOptions(argc, argv, options)) return kExitUsage;
  if (options.help) {
    std::cout << kUsage << kWindowNote;
    return 0;
  }
  if (options.hashPassword) return HashPassword();
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
  // A restore writes a new file only: it runs beside a running server.
  if (options.restoreSource) return RestoreReplica(options);

#ifdef QUELVAR_WITH_WINDOW
  const bool windowMode = !options.headless && DisplayAvailable();
#else
  [[maybe_unused]] const bool windowMode = false;
#endif
  try {
    quelvar::host::SingleInstanceLock instance;
    switch (instance.Acquire()) {
      case quelvar::host::SingleInstanceLock::Outcome::HeldElsewhere:
        // Another copy runs: leave it alone and say so in one line (and, on a
        // desktop, in a message box the person who started this one sees).
        std::cerr << "quelvar-server: another copy is already running (it holds the lock file "
                  << quelvar::host::SingleInstanceLock::LockPath().string() << "); this one ends.\n";
#ifdef QUELVAR_WITH_WINDOW
        if (windowMode) quelvar::host::ShowStartupMessage(argc, argv, quelvar::host::kAlreadyRunningMessage, false);
#endif
        return 0;
      case quelvar::host::SingleInstanceLock::Outcome::Unavailable:
        std::cerr << "quelvar-server: warning: single-instance lock not held: " << instance.error() << "\n";
        break;
      case quelvar::host::SingleInstanceLock::Outcome::Acquired:
        break;
    }
    const std::filesystem::path programFolder =
        options.dataFolder ? DataFolder(*options.dataFolder) : quelvar::host::ProgramFolder();
    const auto selfUpdate =
        options.selfUpdate ? quelvar::host::SelfUpdate::On : quelvar::host::SelfUpdate::Off;
    if (options.createDatabase) CreateDatabase(programFolder);
#ifdef QUELVAR_WITH_WINDOW
    if (windowMode) return quelvar::host::RunOperatorWindow(argc, argv, programFolder, signals, selfUpdate);
#endif
    return RunHeadless(programFolder, signals, selfUpdate);
  } catch (const std::exception& failure) {
    std::cerr << "quelvar-server: " << failure.what() << "\n";
#ifdef QUELVAR_WITH_WINDOW
    // On a desktop nobody reads standard error: the failure is shown before the program ends.
    if (windowMode) {
      quelvar::host::ShowStartupMessage(argc, argv,
                                        std::string(quelvar::host::kStartupFailureMessage) + failure.what(), true);
    }
#endif
    return kExitFailure;
  }
}
