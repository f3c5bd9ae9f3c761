#pragma once
// A test-only file layer for power-cut simulations, registered as the
// engine's default in place of the system's: every call goes through to the
// real files, and each database, journal and log file's writes and syncs are
// recorded on the side.
//
// For every such file it keeps the content as it stands on the disk after the
// last sync of that file ("durable") and the writes and truncations made since
// ("pending"). A power cut at any moment is then an image of the files:
//   - kDropUnsynced: the durable content only (every unsynced write lost);
//   - kRandomSubset: the durable content with a random subset of the pending
//     writes applied, in a random order (the disk wrote some of its cache,
//     not necessarily in order).
// A deleted file is gone at once (a deletion is taken as durable).
//
// Single-threaded use only; observers run inside the engine's calls and must
// not use the engine.

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace quelvar::testing {

enum class CutMode { kDropUnsynced, kRandomSubset };

class PowerCutVfs {
 public:
  // The content of each recorded file after a cut, by path.
  using Image = std::map<std::string, std::string>;

  // Registers the layer as the default (once per process) and returns it.
  static PowerCutVfs& Install();

  // Forgets every recorded file (a new scenario).
  void Reset();
  // Takes the current content of every recorded file as durable and starts
  // counting operations and syncs again.
  void MarkAllDurable();

  // Called after every recorded write, truncation, sync or deletion.
  std::function<void()> onOperation;
  // Called after every completed sync.
  std::function<void()> onSync;

  std::uint64_t Operations() const { return operations_; }
  std::uint64_t Syncs() const { return syncs_; }

  // The files as a power cut right now would leave them.
  Image Cut(CutMode mode, std::mt19937& random) const;

  // Internal: the recorded state of one file.
  struct Pending {
    std::int64_t offset;  // -1 for a truncation to `size`
    std::int64_t size;
    std::string data;
  };
  struct Record {
    std::string current;
    std::string durable;
    std::vector<Pending> pending;
  };
  void Write(const std::string& path, const void* data, int amount, std::int64_t offset);
  void Truncate(const std::string& path, std::int64_t size);
  void Sync(const std::string& path);
  void Delete(const std::string& path);
  void Opened(const std::string& path, const std::string& existingContent);
  bool Tracks(const std::string& path) const { return files_.count(path) != 0; }

 private:
  PowerCutVfs() = default;
  void Counted();

  std::map<std::string, Record> files_;
  std::uint64_t operations_ = 0;
  std::uint64_t syncs_ = 0;
};

}  // namespace quelvar::testing
