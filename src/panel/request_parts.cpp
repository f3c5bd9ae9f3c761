#include "panel/request_parts.h"

#include "formats/text_codec.h"
#include "service/url_text.h"

namespace quelvar::panel {

std::optional<std::string> SingleHeader(const service::HttpRequest& request, std::string_view name) {
  std::optional<std::string> found;
  for (const auto& [key, value] : request.headers) {
    if (!EqualsIgnoreCase(key, name)) continue;
    if (found) return std::nullopt;
    found = value;
  }
  return found;
}

std::optional<std::string> CookieValue(const service::HttpRequest& request, std::string_view name) {
  for (const auto& [key, value] : request.headers) {
    if (!EqualsIgnoreCase(key, "Cookie")) continue;
    std::string_view rest = value;
    while (!rest.empty()) {
      const auto semicolon = rest.find(';');
      std::string_view pair = Trim(rest.substr(0, semicolon));
      rest = semicolon == std::string_view::npos ? std::string_view{} : rest.substr(semicolon + 1);
      const auto equals = pair.find('=');
      if (equals != std::string_view::npos && Trim(pair.substr(0, equals)) == name) {
        return std::string(Trim(pair.substr(equals + 1)));
      }
    }
  }
  return std::nullopt;
}

std::map<std::string, std::string> FormFields(std::string_view text) {
  std::map<std::string, std::string> fields;
  for (const std::string_view piece : service::SplitAmpersand(text)) {
    const auto equals = piece.find('=');
    std::string name = service::PercentDecode(piece.substr(0, equals), true);
    std::string value =
        equals == std::string_view::npos ? std::string() : service::PercentDecode(piece.substr(equals + 1), true);
    fields.emplace(std::move(name), std::move(value));
  }
  return fields;
}

}  // namespace quelvar::panel
