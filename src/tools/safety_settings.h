#pragma once
// The safety settings of the maintenance tools, read from the program
// folder's Config1.ini (section "INDICE") each time a tool needs them, so a
// change takes effect at the next request:
//
//   ConsultaLivreSegundos=60       time budget of the free query, in seconds
//   ConsultaLivreMemoriaMiB=512    memory budget of one free query, in MiB
//   ConsultaLivreSimultaneas=2     free queries run at once (others wait a little)
//   ChavePublicaAtualizacao=...    Ed25519 public key of the update site (PEM
//                                  text on one line, or the path of a PEM file)
//
// A missing file, section or key, or a value that is not a positive whole
// number, gives the default.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quelvar::tools {

inline constexpr std::string_view kFreeQuerySecondsKey = "ConsultaLivreSegundos";
inline constexpr std::string_view kFreeQueryMemoryKey = "ConsultaLivreMemoriaMiB";
inline constexpr std::string_view kFreeQueriesAtOnceKey = "ConsultaLivreSimultaneas";
inline constexpr std::string_view kUpdateKeySetting = "ChavePublicaAtualizacao";

struct FreeQueryBudget {
  std::chrono::seconds time{60};
  std::uint64_t memoryMiB = 512;
  std::uint64_t atOnce = 2;
};

// The value of `key` in section INDICE of programFolder/Config1.ini
// (surrounding blanks and one pair of double quotes removed), or nothing.
std::optional<std::string> SettingsValue(const std::filesystem::path& programFolder, std::string_view key);

FreeQueryBudget ReadFreeQueryBudget(const std::filesystem::path& programFolder);

}  // namespace quelvar::tools
