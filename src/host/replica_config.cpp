#include "host/replica_config.h"

#include <charconv>
#include <stdexcept>

#include "host/settings.h"

namespace quelvar::host {

namespace {

std::optional<IniFile> LoadIni(const std::filesystem::path& programFolder) {
  const std::filesystem::path file = programFolder / std::string(kConfigFileName);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return std::nullopt;
  return IniFile::Load(file);
}

std::string Value(const IniFile& ini, std::string_view key) { return ini.Get(kConfigSection, key).value_or(""); }

// A whole number from `least` to `most`; `fallback` when the key is absent or empty.
long long Number(const IniFile& ini, std::string_view key, long long least, long long most, long long fallback) {
  const std::string text = Value(ini, key);
  if (text.empty()) return fallback;
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < least || value > most) {
    throw std::runtime_error(std::string(key) + " in " + std::string(kConfigFileName) + " is \"" + text +
                             "\": not a whole number from " + std::to_string(least) + " to " + std::to_string(most));
  }
  return value;
}

replica::S3Access Access(const IniFile& ini, const std::filesystem::path& programFolder, bool needKeys) {
  replica::S3Access access;
  access.endpoint = Value(ini, kReplicaEndpointKey);
  const std::string region = Value(ini, kReplicaRegionKey);
  if (!region.empty()) access.region = region;
  const std::string keyFile = Value(ini, kReplicaKeyFileKey);
  if (!keyFile.empty()) {
    std::filesystem::path file = keyFile;
    if (file.is_relative()) file = programFolder / file;
    try {
      access = replica::ReadS3Keys(file, access);
    } catch (const std::exception&) {
      if (needKeys) throw;
    }
  }
  return access;
}

}  // namespace

replica::ReplicaSettings ReadReplicaSettings(const std::filesystem::path& programFolder) {
  const auto ini = LoadIni(programFolder);
  if (!ini) return {};
  return ReplicaSettingsFrom(*ini, programFolder);
}

replica::ReplicaSettings ReplicaSettingsFrom(const IniFile& ini, const std::filesystem::path& programFolder) {
  replica::ReplicaSettings settings;
  bool s3 = false;
  for (std::string_view key : kReplicaKeys) {
    std::string target = Value(ini, key);
    if (target.empty()) continue;
    // A relative folder is taken from the program folder, as the database is.
    if (!replica::IsS3Target(target) && std::filesystem::path(target).is_relative()) {
      target = (programFolder / target).lexically_normal().string();
    }
    settings.replicas.push_back({std::string(key), target});
    s3 = s3 || replica::IsS3Target(target);
  }
  settings.interval = std::chrono::milliseconds(Number(ini, kReplicaIntervalKey, 10, 3600000, 1000));
  settings.retentionDays = static_cast<int>(Number(ini, kReplicaRetentionKey, 1, 36500, 7));
  settings.logLimitBytes = static_cast<std::uint64_t>(Number(ini, kReplicaLogLimitKey, 1, 1 << 20, 1024)) << 20;
  settings.drillEvery = std::chrono::seconds(Number(ini, kReplicaDrillKey, 1, 365LL * 86400, 86400));
  settings.firstDrillAfter = std::min<std::chrono::seconds>(settings.drillEvery, std::chrono::seconds(300));
  if (s3) {
    settings.s3 = Access(ini, programFolder, true);
    if (settings.s3.keyId.empty()) {
      throw std::runtime_error("an S3 replica needs " + std::string(kReplicaKeyFileKey) + " in " +
                               std::string(kConfigFileName));
    }
  }
  for (const replica::ReplicaTarget& target : settings.replicas) {
    replica::OpenStore(target.target, settings.s3);  // refuses what cannot be used
  }
  return settings;
}

replica::S3Access ReadS3Access(const std::filesystem::path& programFolder, bool required) {
  const auto ini = LoadIni(programFolder);
  if (!ini) return {};
  return Access(*ini, programFolder, required);
}

}  // namespace quelvar::host
