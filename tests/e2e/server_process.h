#pragma once
// Starts the real server binary for end-to-end tests: a temporary program
// folder holding a copy of the executable and a Config1.ini, its own
// XDG_RUNTIME_DIR, standard output and error captured in files.
//
//   ServerProcess server;             // folder, binary copy, free port, empty database file
//   server.Start();                   // quelvar-server --headless
//   ASSERT_TRUE(server.WaitUntilAccepting());
//   ... Exchange(server.port(), "GET / HTTP/1.1\r\n...") ...
//   EXPECT_EQ(server.Stop(), 0);      // SIGTERM, exit code

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar::test {

using namespace std::chrono_literals;

// A TCP port on 127.0.0.1 that was free a moment ago.
std::uint16_t FreeLoopbackPort();

// The headless log's lines read back into entries (see ServerProcess::OperatorLog).
// A line "<time stamp> <LEVEL> <text>" starts an entry; a line starting with
// four blanks continues the one before; any other line stands for itself.
std::string OperatorLogEntries(std::string_view logText);

// How many times `what` occurs in `text` (overlapping occurrences counted).
std::size_t Occurrences(std::string_view text, std::string_view what);

class ServerProcess {
 public:
  struct Options {
    // Config1.ini is written with these values unless `configText` is set.
    std::optional<std::uint16_t> port;          // default: FreeLoopbackPort()
    std::optional<std::string> databasePath;    // default: <program folder>/QuelvarDB.db3
    bool createDatabaseFile = true;             // create an empty file at databasePath
    std::optional<std::string> configText;      // Config1.ini exact text instead
    std::string extraConfig;                    // lines added to the written section INDICE
    bool writeConfig = true;                    // false: no Config1.ini at all
    std::optional<std::filesystem::path> runtimeDir;  // default: a folder of its own
    // Changes to the inherited environment: "NAME=VALUE" sets a variable,
    // a bare "NAME" removes it.
    std::vector<std::string> environment;
    // The open-file limit (soft and hard) the process starts with; unset: inherited.
    std::optional<std::uint64_t> openFiles;
  };

  ServerProcess();
  explicit ServerProcess(Options options);
  ~ServerProcess();  // kills a process still running, removes the temporary folders
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Starts the copy with these arguments.
  void Start(const std::vector<std::string>& args = {"--headless"});
  // Options of a server that makes its own database from the shipped schema
  // (no database file beforehand), to be started with StartWithFreshDatabase.
  static Options FreshDatabase() {
    Options o;
    o.createDatabaseFile = false;
    return o;
  }
  void StartWithFreshDatabase() { Start({"--headless", "--create-database"}); }
  // Polls until 127.0.0.1:port() accepts a connection; false when the process
  // ended or the wait ran out.
  bool WaitUntilAccepting(std::chrono::milliseconds timeout = 10s);
  // Sends SIGTERM and waits; the exit code, or -1 when the process did not end
  // normally (killed by a signal, or still running after `timeout`).
  int Stop(std::chrono::milliseconds timeout = 10s);
  // Waits for the process to end on its own; its exit code, -1 as above.
  int WaitExit(std::chrono::milliseconds timeout = 10s);
  // Start(args) then WaitExit(timeout).
  int Run(const std::vector<std::string>& args, std::chrono::milliseconds timeout = 10s);
  bool Running();
  // Polls until standard output contains `text`; false when the process ended
  // without writing it or the wait ran out.
  bool WaitForStdout(std::string_view text, std::chrono::milliseconds timeout = 10s);
  // The same for standard error.
  bool WaitForStderr(std::string_view text, std::chrono::milliseconds timeout = 10s);

  std::string Stdout() const;
  std::string Stderr() const;
  // Standard error read back as operator-log entries in the form they were
  // written (OperatorLogEntries): time stamp and level gone, continuation
  // lines joined to their entry by carriage returns, each entry ending in a
  // line feed.
  std::string OperatorLog() const;

  std::uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::filesystem::path& programFolder() const { return programFolder_; }
  const std::filesystem::path& runtimeDir() const { return runtimeDir_; }
  const std::filesystem::path& executable() const { return executable_; }
  const std::string& databasePath() const { return databasePath_; }

 private:
  void Prepare(const Options& options);

  std::filesystem::path root_;
  std::filesystem::path programFolder_;
  std::filesystem::path runtimeDir_;
  std::vector<std::string> environment_;
  std::optional<std::uint64_t> openFiles_;
  std::filesystem::path executable_;
  std::string databasePath_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
  int exitCode_ = -1;
  bool exited_ = false;
};

}  // namespace quelvar::test
