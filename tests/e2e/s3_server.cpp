#include "s3_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "server_process.h"

#ifndef QUELVAR_S3_SERVER_SCRIPT
#error "QUELVAR_S3_SERVER_SCRIPT must name the s3rver program"
#endif

namespace quelvar::test {

S3Server::S3Server() {
  char pattern[] = "/tmp/quelvar-s3-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a folder for the S3 server");
  root_ = pattern;
  std::filesystem::create_directories(root_ / "objects");
  keyFile_ = root_ / "keys";
  {
    std::ofstream keys(keyFile_);
    keys << "S3RVER\nS3RVER\n";
  }
  std::filesystem::permissions(keyFile_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  port_ = FreeLoopbackPort();
  Start();
}

S3Server::~S3Server() {
  Kill();
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void S3Server::Start() {
  if (!std::filesystem::exists(QUELVAR_S3_SERVER_SCRIPT)) {
    throw std::runtime_error(std::string("the S3 test server is not installed (") + QUELVAR_S3_SERVER_SCRIPT +
                             "): run scripts/install_test_services.sh");
  }
  const std::string port = std::to_string(port_);
  const std::string objects = (root_ / "objects").string();
  const std::string log = (root_ / "s3.log").string();
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("cannot start the S3 server");
  if (pid_ == 0) {
    std::FILE* out = std::freopen(log.c_str(), "a", stdout);
    (void)out;
    ::dup2(STDOUT_FILENO, STDERR_FILENO);
    ::execlp("node", "node", QUELVAR_S3_SERVER_SCRIPT, "-d", objects.c_str(), "-a", "127.0.0.1", "-p", port.c_str(),
             "--silent", "--configure-bucket", kBucket, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (CanConnect(port_)) return;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("the S3 server ended at start; see " + log);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Kill();
  throw std::runtime_error("the S3 server did not accept connections within 30 s");
}

void S3Server::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace quelvar::test
