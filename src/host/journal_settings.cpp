#include "host/journal_settings.h"

#include <exception>
#include <string>

#include "host/settings.h"

namespace quelvar::host {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

JournalChoice JournalFromText(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  for (std::string_view yes : {"1", "s", "sim", "true"})
    if (EqualsIgnoringCase(text, yes)) return JournalChoice::kRollback;
  return JournalChoice::kWriteAheadLog;
}

JournalChoice ReadJournalSetting(const std::filesystem::path &programFolder) {
  try {
    const std::filesystem::path file = programFolder / std::string(kConfigFileName);
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return JournalChoice::kWriteAheadLog;
    const std::optional<std::string> value = IniFile::Load(file).Get(kConfigSection, kRollbackJournalKey);
    return value ? JournalFromText(*value) : JournalChoice::kWriteAheadLog;
  } catch (const std::exception &) {
    return JournalChoice::kWriteAheadLog;
  }
}

}  // namespace quelvar::host
