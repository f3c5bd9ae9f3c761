#include "server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <stdexcept>
#include <regex>
#include <thread>

#ifndef QUELVAR_SERVER_BINARY
#error "QUELVAR_SERVER_BINARY must name the built server executable"
#endif

extern char** environ;

namespace quelvar::test {
namespace {

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

bool CanConnect(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

// A port below the system's ephemeral range (32768 and up on Linux), picked at
// random and found free: the many client connections of the suites take their
// local ports from that range, so a port found free here is not taken by one
// of them between the check and the server's start.
std::uint16_t FreeLoopbackPort() {
  constexpr int kLowest = 20000;
  constexpr int kHighest = 32767;
  static std::mutex mutex;
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> pick(kLowest, kHighest);
  int lastFailure = 0;
  for (int attempt = 0; attempt < 200; ++attempt) {
    int port = 0;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      port = pick(random);
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    lastFailure = errno;
    ::close(fd);
    if (bound) return static_cast<std::uint16_t>(port);
  }
  throw std::runtime_error(std::string("no free loopback port: ") + std::strerror(lastFailure));
}

ServerProcess::ServerProcess() : ServerProcess(Options{}) {}

ServerProcess::ServerProcess(Options options) {
  std::string pattern = (std::filesystem::temp_directory_path() / "quelvar-e2e-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  }
  root_ = pattern;
  try {
    Prepare(options);
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);  // the destructor does not run for a failed constructor
    throw;
  }
}

void ServerProcess::Prepare(const Options& options) {
  environment_ = options.environment;
  openFiles_ = options.openFiles;
  programFolder_ = root_ / "program";
  std::filesystem::create_directories(programFolder_);
  if (options.runtimeDir) {
    runtimeDir_ = *options.runtimeDir;
  } else {
    runtimeDir_ = root_ / "runtime";
    std::filesystem::create_directories(runtimeDir_);
    std::filesystem::permissions(runtimeDir_, std::filesystem::perms::owner_all);
  }
  executable_ = programFolder_ / "quelvar-server";
  std::filesystem::copy_file(QUELVAR_SERVER_BINARY, executable_);
  std::filesystem::permissions(executable_, std::filesystem::perms::owner_all);

  port_ = options.port ? *options.port : FreeLoopbackPort();
  databasePath_ = options.databasePath ? *options.databasePath : (programFolder_ / "QuelvarDB.db3").string();
  if (options.createDatabaseFile) WriteFile(databasePath_, "");
  if (options.writeConfig) {
    WriteFile(programFolder_ / "Config1.ini",
              options.configText ? *options.configText
                                 : "[INDICE]\nLocalQuelvarDB=" + databasePath_ + "\nPorta=" +
                                       std::to_string(port_) + "\n" + options.extraConfig);
  }
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0 && !exited_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void ServerProcess::Start(const std::vector<std::string>& args) {
  if (pid_ > 0 && !exited_) throw std::runtime_error("the server is already running");
  exited_ = false;
  exitCode_ = -1;

  std::vector<std::string> argvText = {executable_.string()};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);

  std::vector<std::string> changes = environment_;
  changes.push_back("XDG_RUNTIME_DIR=" + runtimeDir_.string());
  auto changedName = [&changes](std::string_view entry) {
    const std::string_view name = entry.substr(0, entry.find('='));
    for (const std::string& change : changes) {
      if (std::string_view(change).substr(0, change.find('=')) == name) return true;
    }
    return false;
  };
  std::vector<std::string> envText;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!changedName(*entry)) envText.emplace_back(*entry);
  }
  for (const std::string& change : changes) {
    if (change.find('=') != std::string::npos) envText.push_back(change);
  }
  std::vector<char*> envp;
  for (auto& entry : envText) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const std::string outPath = (root_ / "stdout.txt").string();
  const std::string errPath = (root_ / "stderr.txt").string();

  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int nothing = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || nothing < 0) ::_exit(126);
    ::dup2(nothing, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (openFiles_) {
      const rlimit files{static_cast<rlim_t>(*openFiles_), static_cast<rlim_t>(*openFiles_)};
      if (::setrlimit(RLIMIT_NOFILE, &files) != 0) ::_exit(125);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  pid_ = child;
}

bool ServerProcess::Running() {
  if (pid_ <= 0 || exited_) return false;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == pid_) {
    exited_ = true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }
  return true;
}

bool ServerProcess::WaitUntilAccepting(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!Running()) return false;
    if (CanConnect(port_)) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

namespace {

template <typename Read>
bool WaitForText(ServerProcess& server, Read read, std::string_view text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const bool running = server.Running();
    if (read().find(text) != std::string::npos) return true;
    if (!running || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
}

}  // namespace

bool ServerProcess::WaitForStdout(std::string_view text, std::chrono::milliseconds timeout) {
  return WaitForText(*this, [this] { return Stdout(); }, text, timeout);
}

bool ServerProcess::WaitForStderr(std::string_view text, std::chrono::milliseconds timeout) {
  return WaitForText(*this, [this] { return Stderr(); }, text, timeout);
}

int ServerProcess::WaitExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(5ms);
  }
  return exitCode_;
}

int ServerProcess::Stop(std::chrono::milliseconds timeout) {
  if (!Running()) return exitCode_;
  ::kill(pid_, SIGTERM);
  return WaitExit(timeout);
}

int ServerProcess::Run(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
  Start(args);
  return WaitExit(timeout);
}

std::string ServerProcess::Stdout() const { return ReadFile(root_ / "stdout.txt"); }

std::string ServerProcess::Stderr() const { return ReadFile(root_ / "stderr.txt"); }

std::string ServerProcess::OperatorLog() const { return OperatorLogEntries(Stderr()); }

std::size_t Occurrences(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string OperatorLogEntries(std::string_view logText) {
  static const std::regex kEntryStart(
      R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}[+-]\d{2}:\d{2} (ERROR|WARNING|INFO)( |$))");
  std::string entries;
  bool open = false;
  while (!logText.empty()) {
    const std::size_t end = logText.find('\n');
    const std::string line(logText.substr(0, end));
    logText.remove_prefix(end == std::string_view::npos ? logText.size() : end + 1);
    std::smatch match;
    if (std::regex_search(line, match, kEntryStart)) {
      if (open) entries.push_back('\n');
      entries.append(line.substr(static_cast<std::size_t>(match.length(0))));
      open = true;
    } else if (open && line.rfind("    ", 0) == 0) {
      entries.append("\r").append(line.substr(4));
    } else {
      if (open) entries.push_back('\n');
      entries.append(line);
      open = true;
    }
  }
  if (open) entries.push_back('\n');
  return entries;
}

}  // namespace quelvar::test
