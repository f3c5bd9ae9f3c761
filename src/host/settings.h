#pragma once
// The settings file "Config1.ini" in the program folder: section "INDICE" with
// the database path `LocalQuelvarDB` and the port `Porta`.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar::host {

inline constexpr std::string_view kConfigFileName = "Config1.ini";
inline constexpr std::string_view kConfigSection = "INDICE";
inline constexpr std::string_view kDatabaseKey = "LocalQuelvarDB";
inline constexpr std::string_view kPortKey = "Porta";
inline constexpr std::string_view kDefaultDatabaseName = "QuelvarDB.db3";
inline constexpr std::string_view kDefaultPortText = "7780";

// An INI text: "[section]" lines and "key=value" lines. Section and key names
// match without regard to ASCII letter case; names and values are trimmed of
// blanks; values are plain text (quotes are kept). Lines starting with ";" or
// "#" are comments. The first matching section and key win. Writing keeps
// every other line as it was, and the file's line ending (CRLF or LF).
class IniFile {
 public:
  IniFile() = default;
  static IniFile FromText(std::string_view text);
  // Throws std::runtime_error naming the file when it cannot be read.
  static IniFile Load(const std::filesystem::path& file);

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);

  std::string Text() const;
  // Replaces the file whole (written beside it, then renamed over it).
  // Throws std::runtime_error naming the file when it cannot be written.
  void Save(const std::filesystem::path& file) const;

 private:
  std::vector<std::string> lines_;
  std::string lineEnd_ = "\n";
};

// The folder of the running executable.
std::filesystem::path ProgramFolder();

// A folder as text ending in a path separator ("/opt/q/").
std::string FolderText(const std::filesystem::path& folder);

// A decimal integer (optional sign, digits only, 32-bit range); 0 otherwise.
int PortFromText(std::string_view text);

// The ports the listener accepts from the settings: 1 to 65535. An absent or
// non-numeric `Porta` reads as 0 and is refused too: port 0 would let the
// system pick a port no client knows.
bool IsServicePort(int port);

// The database file a configured `LocalQuelvarDB` names: a relative path is
// taken from the program folder (never from the working directory); "" stays "".
std::string DatabaseFileFor(const std::filesystem::path& programFolder, const std::string& localDb);

// The two settings in force.
struct HostSettings {
  std::string localDb;  // `vLocalDB`
  int port = 0;         // `vPorta`
};

struct StartupSettings {
  HostSettings values;
  bool createdDefaults = false;  // the file was missing and has been written
  std::optional<std::string> portText;  // `Porta` as written, when present
};

// Start-up reading: when Config1.ini exists, its values (an absent
// `LocalQuelvarDB` gives "", an absent or non-numeric `Porta` gives 0).
// Otherwise the file is created with the defaults (program folder +
// "QuelvarDB.db3", "7780") and the cleared values ("", 0) are returned: the
// written values take effect at the next start. Throws std::runtime_error
// when the file cannot be read or written.
StartupSettings ReadStartupSettings(const std::filesystem::path& programFolder);

// True when `path` names an existing regular file (false for "").
bool DatabaseFileExists(const std::string& path);

// Writes the defaults when Config1.ini is missing; true when it wrote them.
bool WriteDefaultSettingsIfMissing(const std::filesystem::path& programFolder);

// Stores both values in Config1.ini, creating the file when needed (what
// confirming the configuration dialog does).
void SaveSettings(const std::filesystem::path& programFolder, std::string_view localDb,
                  std::string_view portText);

}  // namespace quelvar::host
