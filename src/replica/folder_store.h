#pragma once
// A replica in a folder: each key a file under the root; objects are written
// into hidden temporary files (".<name>.parcial-<pid>-<n>"), flushed and
// renamed, so a crash leaves no partial object under a real name.

#include "replica/replica_store.h"

namespace quelvar::replica {

class FolderStore final : public ReplicaStore {
 public:
  explicit FolderStore(std::filesystem::path root) : root_(std::move(root)) {}
  void Put(const std::string &key, std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit) override;
  std::optional<std::vector<std::uint8_t>> Get(const std::string &key, std::chrono::milliseconds limit) override;
  std::vector<std::string> List(const std::string &prefix, std::chrono::milliseconds limit) override;
  void Remove(const std::string &key, std::chrono::milliseconds limit) override;

 private:
  std::filesystem::path root_;
};

}  // namespace quelvar::replica
