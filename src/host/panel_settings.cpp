#include "host/panel_settings.h"

#include <arpa/inet.h>

#include <algorithm>
#include <stdexcept>

#include "host/backup_schedule.h"
#include "host/host_texts.h"
#include "host/listener_settings.h"
#include "host/replica_config.h"
#include "host/settings.h"
#include "service/tls_context.h"

namespace quelvar::host {
namespace {

namespace fs = std::filesystem;

enum class Kind { Port, OptionalPort, Address, Text, Path, Number, Schedule, Replica, PanelUser };

using panel::Restarts;

struct Key {
  std::string_view name;
  Kind kind;
  Restarts restarts;
};

constexpr Key kKeys[] = {
    {kPortKey, Kind::Port, Restarts::Listener},
    {kAddressKey, Kind::Address, Restarts::Listener},
    {kUserKey, Kind::Text, Restarts::Listener},
    {kPasswordKey, Kind::Text, Restarts::Listener},
    {kTlsPortKey, Kind::OptionalPort, Restarts::Listener},
    {kTlsCertificateKey, Kind::Path, Restarts::Listener},
    {kTlsKeyKey, Kind::Path, Restarts::Listener},
    {kBodyMemoryKey, Kind::Number, Restarts::Listener},
    {kMaxConnectionsKey, Kind::Number, Restarts::Listener},
    {kPerAddressKey, Kind::Number, Restarts::Listener},
    {kLoginFailuresKey, Kind::Number, Restarts::Listener},
    {kHeaderDeadlineKey, Kind::Number, Restarts::Listener},
    {kIdleKey, Kind::Number, Restarts::Listener},
    {kBodyGraceKey, Kind::Number, Restarts::Listener},
    {kBodyRateKey, Kind::Number, Restarts::Listener},
    {kBackupTimeKey, Kind::Schedule, Restarts::Nothing},
    {kBackupKeepKey, Kind::Schedule, Restarts::Nothing},
    {kBackupIntervalKey, Kind::Schedule, Restarts::Nothing},
    {kReplicaKeys[0], Kind::Replica, Restarts::Replication},
    {kReplicaKeys[1], Kind::Replica, Restarts::Replication},
    {kReplicaEndpointKey, Kind::Replica, Restarts::Replication},
    {kReplicaRegionKey, Kind::Replica, Restarts::Replication},
    {kReplicaKeyFileKey, Kind::Replica, Restarts::Replication},
    {kReplicaIntervalKey, Kind::Replica, Restarts::Replication},
    {kReplicaRetentionKey, Kind::Replica, Restarts::Replication},
    {kReplicaLogLimitKey, Kind::Replica, Restarts::Replication},
    {kReplicaDrillKey, Kind::Replica, Restarts::Replication},
    {kPanelUserKey, Kind::PanelUser, Restarts::Nothing},
};

const Key* FindKey(std::string_view name) {
  for (const Key& key : kKeys) {
    if (key.name == name) return &key;
  }
  return nullptr;
}

IniFile LoadOrEmpty(const fs::path& programFolder) {
  const fs::path file = programFolder / std::string(kConfigFileName);
  std::error_code ec;
  return fs::exists(file, ec) ? IniFile::Load(file) : IniFile();
}

bool Digits(std::string_view text) {
  return !text.empty() && text.size() <= 12 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool IpAddress(const std::string& text) {
  unsigned char bytes[16];
  return ::inet_pton(AF_INET, text.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

bool Printable(std::string_view text) {
  return text.size() <= 512 && std::none_of(text.begin(), text.end(), [](char c) {
           return static_cast<unsigned char>(c) < 0x20;
         });
}

// The file as it would read with `values` set.
IniFile WithValues(const IniFile& ini, const std::vector<std::pair<std::string, std::string>>& values) {
  IniFile changed = ini;
  for (const auto& [name, value] : values) {
    if (FindKey(name) == nullptr) continue;
    // An empty value for a key the file does not hold leaves it absent (the same meaning).
    if (value.empty() && !ini.Get(kConfigSection, name)) continue;
    changed.Set(kConfigSection, name, value);
  }
  return changed;
}

}  // namespace

panel::PanelCredentials ReadPanelCredentials(const fs::path& programFolder) {
  const IniFile ini = LoadOrEmpty(programFolder);
  panel::PanelCredentials credentials;
  credentials.user = ini.Get(kConfigSection, kPanelUserKey).value_or("");
  if (credentials.user.empty()) credentials.user = kDefaultPanelUser;
  credentials.passwordHash = ini.Get(kConfigSection, kPanelPasswordKey).value_or("");
  return credentials;
}

std::chrono::seconds ReadPanelIdleTime(const fs::path& programFolder) {
  const std::string text = LoadOrEmpty(programFolder).Get(kConfigSection, kPanelIdleKey).value_or("");
  if (Digits(text) && text.size() <= 9 && std::stol(text) > 0) return std::chrono::seconds(std::stol(text));
  return std::chrono::seconds(30 * 60);
}

std::vector<panel::SettingField> ReadPanelSettings(const fs::path& programFolder) {
  const IniFile ini = LoadOrEmpty(programFolder);
  std::vector<panel::SettingField> fields;
  for (const Key& key : kKeys) {
    fields.push_back({std::string(key.name), ini.Get(kConfigSection, key.name).value_or(""), key.restarts});
  }
  return fields;
}

std::string CheckPanelSettings(const std::vector<std::pair<std::string, std::string>>& values,
                               const fs::path& programFolder) {
  for (const auto& [name, value] : values) {
    const Key* key = FindKey(name);
    if (key == nullptr) continue;
    const std::string label = std::string(key->name) + ": ";
    if (!Printable(value)) return label + "valor inválido.";
    switch (key->kind) {
      case Kind::Port:
        if (!IsServicePort(PortFromText(value)) || !Digits(value)) return WithLineBreaks(kPortInvalidMessage);
        break;
      case Kind::OptionalPort:
        if (!value.empty() && (!Digits(value) || !IsServicePort(PortFromText(value)))) {
          return label + "use um número de 1 a 65535, ou deixe vazio.";
        }
        break;
      case Kind::Address:
        if (!value.empty() && !IpAddress(value)) return label + "use um endereço IP desta máquina, ou deixe vazio.";
        break;
      case Kind::Number:
        if (!value.empty() && !Digits(value)) return label + "use um número inteiro, ou deixe vazio.";
        break;
      case Kind::Text:
      case Kind::PanelUser:
      case Kind::Path:
      case Kind::Schedule:
      case Kind::Replica:
        break;
    }
  }
  const IniFile changed = WithValues(LoadOrEmpty(programFolder), values);
  const BackupSchedule schedule =
      ParseBackupSchedule(changed.Get(kConfigSection, kBackupTimeKey), changed.Get(kConfigSection, kBackupKeepKey),
                          changed.Get(kConfigSection, kBackupIntervalKey));
  if (!schedule.problem.empty()) return "Backup automático: " + schedule.problem;
  try {
    ReplicaSettingsFrom(changed, programFolder);
  } catch (const std::exception& failure) {
    return std::string("Réplicas: ") + failure.what();
  }
  const service::ListenerOptions options = ListenerOptionsFrom(changed, programFolder);
  if (options.tls) {
    try {
      service::MakeServerTlsContext(options.tls->certificateFile, options.tls->privateKeyFile);
    } catch (const std::exception& failure) {
      return std::string("TLS: ") + failure.what();
    }
  }
  return {};
}

SettingsRestarts WritePanelSettings(const std::vector<std::pair<std::string, std::string>>& values,
                                    const fs::path& programFolder) {
  const IniFile before = LoadOrEmpty(programFolder);
  const IniFile after = WithValues(before, values);
  after.Save(programFolder / std::string(kConfigFileName));
  SettingsRestarts restarts;
  for (const Key& key : kKeys) {
    if (before.Get(kConfigSection, key.name) == after.Get(kConfigSection, key.name)) continue;
    restarts.listener = restarts.listener || key.restarts == Restarts::Listener;
    restarts.replication = restarts.replication || key.restarts == Restarts::Replication;
  }
  return restarts;
}

}  // namespace quelvar::host
