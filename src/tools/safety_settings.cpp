#include "tools/safety_settings.h"

#include <charconv>
#include <fstream>

#include "formats/text_codec.h"
#include "service/protected_files.h"

namespace quelvar::tools {

namespace {

std::string_view Stripped(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

std::optional<std::uint64_t> PositiveNumber(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::uint64_t value = 0;
  const char* end = text->data() + text->size();
  const auto [at, error] = std::from_chars(text->data(), end, value);
  if (error != std::errc() || at != end || value == 0) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> SettingsValue(const std::filesystem::path& programFolder, std::string_view key) {
  std::ifstream in(programFolder / std::string(service::kSettingsFileName), std::ios::binary);
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    const std::string_view text = Stripped(line);
    if (!text.empty() && text.front() == '[') {
      inSection = EqualsIgnoreCase(text, "[INDICE]");
      continue;
    }
    if (!inSection) continue;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || !EqualsIgnoreCase(Stripped(text.substr(0, equals)), key)) continue;
    std::string_view value = Stripped(text.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return std::string(value);
  }
  return std::nullopt;
}

FreeQueryBudget ReadFreeQueryBudget(const std::filesystem::path& programFolder) {
  FreeQueryBudget budget;
  // Bounded so that the arithmetic below cannot overflow.
  constexpr std::uint64_t kMaxSeconds = 366ull * 24 * 3600;
  constexpr std::uint64_t kMaxMiB = 1ull << 30;
  if (const auto seconds = PositiveNumber(SettingsValue(programFolder, kFreeQuerySecondsKey)); seconds)
    budget.time = std::chrono::seconds(std::min(*seconds, kMaxSeconds));
  if (const auto mib = PositiveNumber(SettingsValue(programFolder, kFreeQueryMemoryKey)); mib)
    budget.memoryMiB = std::min(*mib, kMaxMiB);
  if (const auto count = PositiveNumber(SettingsValue(programFolder, kFreeQueriesAtOnceKey)); count)
    budget.atOnce = std::min<std::uint64_t>(*count, 1024);
  return budget;
}

}  // namespace quelvar::tools
