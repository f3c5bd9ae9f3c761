#pragma once
// A local S3-compatible server for the replica suites: the npm package s3rver
// (installed by scripts/install_test_services.sh) run under Node on a free
// loopback port, its objects in a temporary folder, one bucket made at start.
// Its access key and secret are its defaults, "S3RVER" and "S3RVER".
//
//   S3Server s3;                 // started, bucket "quelvar"
//   s3.Kill();  s3.Start();      // an outage: the same port and objects after

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace quelvar::test {

class S3Server {
 public:
  static constexpr const char* kBucket = "quelvar";
  S3Server();
  ~S3Server();  // kills it, removes its folder
  S3Server(const S3Server&) = delete;
  S3Server& operator=(const S3Server&) = delete;

  // Starts it (again) and waits until it accepts; throws when it cannot.
  void Start();
  // SIGKILL, as a machine that vanishes.
  void Kill();

  std::uint16_t port() const { return port_; }
  std::string Endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // A key file for Config1.ini (mode 0600).
  const std::filesystem::path& KeyFile() const { return keyFile_; }

 private:
  std::filesystem::path root_;
  std::filesystem::path keyFile_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace quelvar::test
