#pragma once
// The panel's backup and maintenance actions. Each runs through the same
// procedure as the desktop clients' event of the same purpose ("Backup",
// "Restore", the integrity check of "Reordena") on a service module of its
// own, so the checks, the safe writing and the answers' texts are theirs.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "panel/panel_sources.h"

namespace quelvar {
class TDM;
class TDWParams;
}  // namespace quelvar

namespace quelvar::panel {

struct BackupFile {
  std::string name;
  std::uintmax_t bytes = 0;
  std::time_t modified = 0;
};

class PanelTools {
 public:
  // Backup files larger than this are not offered for download through the
  // panel (the reply is held in memory).
  static constexpr std::uintmax_t kMaxDownloadBytes = 512ull << 20;

  explicit PanelTools(const PanelSources& sources) : sources_(sources) {}

  std::filesystem::path BackupFolder() const { return sources_.programFolder / "Backup"; }
  // The "*.db3" files of the backup folder, newest first.
  std::vector<BackupFile> Backups() const;
  // The answer of the "Backup" event for `name` in the backup folder.
  std::string Backup(const std::string& name);
  // The answer of the "Restore" event for `name`.
  std::string Restore(const std::string& name);
  // The integrity check alone: "OK", or the failure (its lines go to the log).
  std::string Check();
  // Compaction: "OK" or the failure.
  std::string Compact();
  // The bytes of a backup file for download: nothing when `name` is not a
  // plain "*.db3" name of a regular file in the folder, or is too large.
  std::optional<std::string> Download(const std::string& name) const;

 private:
  // Runs a desktop event on a module of its own with these string inputs and
  // returns its "Resposta".
  std::string RunEvent(void (*event)(TDM&, TDWParams&, std::string&),
                       const std::vector<std::pair<std::string_view, std::string>>& inputs);

  const PanelSources& sources_;
  // One action at a time: they would only queue on the database's locks.
  std::mutex acting_;
};

// True for a plain file name ending in ".db3" (any letter case), without
// control characters or double quotes.
bool IsBackupName(const std::string& name);

}  // namespace quelvar::panel
