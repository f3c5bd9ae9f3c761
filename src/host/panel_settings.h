#pragma once
// The settings the operator panel shows and writes: the keys of Config1.ini
// (section INDICE) for the port, the address, the credentials, the TLS port,
// the listener's limits, the scheduled backups, the replicas
// (replica_config.h) and the panel's own user.
// New values are checked as a start-up would check them, and only a set in
// which every value is sound is written, whole, to the file.
//
//   UsuarioPainel      the panel's user (default "operador")
//   SenhaPainel        the panel's password hash (quelvar-server --hash-password);
//                      never shown nor written by the panel
//   PainelOciosoSeg    idle time of a panel session, seconds (default 1800)

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "panel/panel_sources.h"

namespace quelvar::host {

inline constexpr std::string_view kPanelUserKey = "UsuarioPainel";
inline constexpr std::string_view kPanelPasswordKey = "SenhaPainel";
inline constexpr std::string_view kPanelIdleKey = "PainelOciosoSeg";
inline constexpr std::string_view kDefaultPanelUser = "operador";

// UsuarioPainel and SenhaPainel as the file sets them now.
panel::PanelCredentials ReadPanelCredentials(const std::filesystem::path& programFolder);
// PainelOciosoSeg, or the panel's default.
std::chrono::seconds ReadPanelIdleTime(const std::filesystem::path& programFolder);

// The keys the panel shows, with their values in the file ("" when absent).
std::vector<panel::SettingField> ReadPanelSettings(const std::filesystem::path& programFolder);

// The refusal of the first unsound value of `values` (only the keys of
// ReadPanelSettings are taken), or "" when every one is sound.
std::string CheckPanelSettings(const std::vector<std::pair<std::string, std::string>>& values,
                               const std::filesystem::path& programFolder);

// What a written change needs restarted.
struct SettingsRestarts {
  bool listener = false;
  bool replication = false;
};

// Writes `values` into Config1.ini (every other line kept), whole, and tells
// what must restart for the changed keys to take effect.
SettingsRestarts WritePanelSettings(const std::vector<std::pair<std::string, std::string>>& values,
                                    const std::filesystem::path& programFolder);

}  // namespace quelvar::host
