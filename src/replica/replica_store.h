#pragma once
// Where a replica's objects live: a folder (a USB disk, a mounted share) or a
// bucket of S3-compatible storage ("s3://bucket/prefix"). Keys are relative
// paths with "/" separators ("generations/<name>/snapshot").
//
// Put writes an object whole or not at all: in a folder, into a hidden
// temporary file that is flushed and renamed (the folder flushed too); in a
// bucket, one PUT. Every failure raises StoreError with a one-line reason.
// A store is used by one thread at a time.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quelvar::replica {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ReplicaStore {
 public:
  virtual ~ReplicaStore() = default;
  // `limit` bounds the whole call (connecting included).
  virtual void Put(const std::string &key, std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit) = 0;
  // nullopt when there is no such object.
  virtual std::optional<std::vector<std::uint8_t>> Get(const std::string &key, std::chrono::milliseconds limit) = 0;
  // Every key that starts with `prefix`, sorted.
  virtual std::vector<std::string> List(const std::string &prefix, std::chrono::milliseconds limit) = 0;
  // Removing a missing object is not an error.
  virtual void Remove(const std::string &key, std::chrono::milliseconds limit) = 0;
};

// How the server reaches S3-compatible storage (Config1.ini).
struct S3Access {
  std::string endpoint;  // "https://s3.example:9000": path-style addressing
  std::string region = "us-east-1";
  std::string keyId;
  std::string secret;
};

// The two lines of a key file: access key id, secret. Raises StoreError when
// the file cannot be read, is readable by its group or by everyone (as ssh
// refuses a private key), or lacks a line.
S3Access ReadS3Keys(const std::filesystem::path &file, S3Access access);

bool IsS3Target(const std::string &target);

// The store a replica setting names: "s3://bucket/prefix" or a folder (which
// must exist: it is never made, so an unmounted disk is not replaced by a
// folder on the machine's own disk). Raises StoreError when the target is malformed or an S3
// target lacks an endpoint or keys.
std::unique_ptr<ReplicaStore> OpenStore(const std::string &target, const S3Access &s3);

}  // namespace quelvar::replica
