#include "host/settings.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "formats/text_codec.h"

namespace quelvar::host {
namespace {

// The section name of a "[name]" line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
  line = Trim(line);
  return !line.empty() && (line.front() == ';' || line.front() == '#');
}

// The key of a "key=value" line.
std::optional<std::string_view> KeyName(std::string_view line) {
  if (IsComment(line) || SectionName(line)) return std::nullopt;
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(0, equals));
}

std::filesystem::path ConfigFile(const std::filesystem::path& programFolder) {
  return programFolder / std::string(kConfigFileName);
}

}  // namespace

IniFile IniFile::FromText(std::string_view text) {
  IniFile ini;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const auto firstBreak = text.find('\n');
  if (firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r') {
    ini.lineEnd_ = "\r\n";
  }
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ini.lines_.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return ini;
}

IniFile IniFile::Load(const std::filesystem::path& file) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) {
    throw std::runtime_error("cannot read " + file.string() + ": " + std::strerror(EISDIR));
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string() + ": " + std::strerror(errno));
  std::string text;
  try {
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::exception& failure) {
    throw std::runtime_error("cannot read " + file.string() + ": " + failure.what());
  }
  if (in.bad()) throw std::runtime_error("cannot read " + file.string());
  return FromText(text);
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  bool inSection = false;
  for (const std::string& line : lines_) {
    if (const auto name = SectionName(line)) {
      inSection = EqualsIgnoreCase(*name, section);
      continue;
    }
    if (!inSection) continue;
    const auto name = KeyName(line);
    if (name && EqualsIgnoreCase(*name, key)) {
      return std::string(Trim(std::string_view(line).substr(line.find('=') + 1)));
    }
  }
  return std::nullopt;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string entry = std::string(key) + "=" + std::string(value);
  std::size_t sectionAt = lines_.size();
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const auto name = SectionName(lines_[i]);
    if (name && EqualsIgnoreCase(*name, section)) {
      sectionAt = i;
      break;
    }
  }
  if (sectionAt == lines_.size()) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(std::move(entry));
    return;
  }
  std::size_t lastContent = sectionAt;
  for (std::size_t i = sectionAt + 1; i < lines_.size() && !SectionName(lines_[i]); ++i) {
    const auto name = KeyName(lines_[i]);
    if (name && EqualsIgnoreCase(*name, key)) {
      lines_[i] = std::move(entry);
      return;
    }
    if (!Trim(lines_[i]).empty()) lastContent = i;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastContent + 1), std::move(entry));
}

std::string IniFile::Text() const {
  std::string text;
  for (const std::string& line : lines_) text.append(line).append(lineEnd_);
  return text;
}

void IniFile::Save(const std::filesystem::path& file) const {
  // Written beside the file and renamed over it: a failure or a crash half
  // way leaves the previous file whole.
  std::filesystem::path side = file;
  side += ".new";
  {
    std::ofstream out(side, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + file.string() + ": " + std::strerror(errno));
    const std::string text = Text();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(side, ignored);
      throw std::runtime_error("cannot write " + file.string());
    }
  }
  std::error_code ec;
  std::filesystem::rename(side, file, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(side, ignored);
    throw std::runtime_error("cannot write " + file.string() + ": " + ec.message());
  }
}

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw std::runtime_error("cannot find the program's own file: " + ec.message());
  return executable.parent_path();
}

std::string FolderText(const std::filesystem::path& folder) {
  std::string text = folder.string();
  if (text.empty() || text.back() != '/') text.push_back('/');
  return text;
}

int PortFromText(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return 0;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return 0;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) return 0;
  return static_cast<int>(value);
}

bool IsServicePort(int port) { return port >= 1 && port <= 65535; }

std::string DatabaseFileFor(const std::filesystem::path& programFolder, const std::string& localDb) {
  if (localDb.empty()) return localDb;
  const std::filesystem::path path(localDb);
  if (path.is_absolute()) return localDb;
  return (programFolder / path).string();
}

bool WriteDefaultSettingsIfMissing(const std::filesystem::path& programFolder) {
  const auto file = ConfigFile(programFolder);
  std::error_code ec;
  if (std::filesystem::exists(file, ec)) return false;
  SaveSettings(programFolder, FolderText(programFolder) + std::string(kDefaultDatabaseName),
               kDefaultPortText);
  return true;
}

StartupSettings ReadStartupSettings(const std::filesystem::path& programFolder) {
  StartupSettings result;
  if (WriteDefaultSettingsIfMissing(programFolder)) {
    result.createdDefaults = true;
    return result;
  }
  const IniFile ini = IniFile::Load(ConfigFile(programFolder));
  result.values.localDb = ini.Get(kConfigSection, kDatabaseKey).value_or("");
  result.portText = ini.Get(kConfigSection, kPortKey);
  result.values.port = PortFromText(result.portText.value_or(""));
  return result;
}

void SaveSettings(const std::filesystem::path& programFolder, std::string_view localDb,
                  std::string_view portText) {
  const auto file = ConfigFile(programFolder);
  std::error_code ec;
  IniFile ini = std::filesystem::exists(file, ec) ? IniFile::Load(file) : IniFile{};
  ini.Set(kConfigSection, kDatabaseKey, localDb);
  ini.Set(kConfigSection, kPortKey, portText);
  ini.Save(file);
}

bool DatabaseFileExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

}  // namespace quelvar::host
