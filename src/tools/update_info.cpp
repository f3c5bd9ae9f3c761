#include "tools/update_info.h"

#include <charconv>
#include <set>

#include "tools/backup_files.h"

namespace quelvar::tools {

namespace {

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    const std::size_t start = at;
    while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
    if (at > start) words.push_back(line.substr(start, at - start));
  }
  return words;
}

template <typename Number>
bool ReadNumber(std::string_view text, Number& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool IsSha256(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

std::optional<UpdateInfo> ParseUpdateInfo(std::string_view text) {
  UpdateInfo info;
  bool haveVersion = false;
  std::set<std::string> names;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string_view> words = Words(line);
    if (words.empty() || words[0].front() == '#') continue;
    if (words[0] == "version" && words.size() == 2 && !haveVersion) {
      if (!ReadNumber(words[1], info.version) || info.version <= 0) return std::nullopt;
      haveVersion = true;
    } else if (words[0] == "file" && words.size() == 4) {
      UpdateFile file;
      if (!ReadNumber(words[1], file.size) || file.size > kMaxUpdateFileSize) return std::nullopt;
      if (!IsSha256(words[2])) return std::nullopt;
      file.sha256 = Lower(words[2]);
      file.name = std::string(words[3]);
      if (!IsPlainFileName(file.name) || !names.insert(file.name).second) return std::nullopt;
      info.files.push_back(std::move(file));
    } else {
      return std::nullopt;
    }
  }
  if (!haveVersion) return std::nullopt;
  return info;
}

std::string SiblingUrl(std::string_view infoUrl, std::string_view name) {
  const std::size_t query = infoUrl.find_first_of("?#");
  const std::string_view path = infoUrl.substr(0, query);
  const std::size_t slash = path.rfind('/');
  return std::string(path.substr(0, slash == std::string_view::npos ? 0 : slash + 1)) + std::string(name);
}

}  // namespace quelvar::tools
