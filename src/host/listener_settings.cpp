#include "host/listener_settings.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

namespace quelvar::host {
namespace {

// A whole decimal number without sign, or nothing.
std::optional<std::uint64_t> NumberFrom(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  std::uint64_t value = 0;
  const char* end = text->data() + text->size();
  const auto [stop, error] = std::from_chars(text->data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::optional<std::string> TextFrom(const IniFile& ini, std::string_view key) {
  auto value = ini.Get(kConfigSection, key);
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::string PathFrom(const std::string& text, const std::filesystem::path& programFolder) {
  const std::filesystem::path path(text);
  return path.is_absolute() ? text : (programFolder / path).string();
}

}  // namespace

service::ListenerOptions ListenerOptionsFrom(const IniFile& ini, const std::filesystem::path& programFolder) {
  service::ListenerOptions options;
  if (auto user = TextFrom(ini, kUserKey)) options.user = std::move(*user);
  if (auto password = TextFrom(ini, kPasswordKey)) options.password = std::move(*password);
  if (auto address = TextFrom(ini, kAddressKey)) options.address = std::move(*address);

  const auto tlsPort = NumberFrom(ini.Get(kConfigSection, kTlsPortKey));
  if (tlsPort && *tlsPort > 0 && *tlsPort <= 65535) {
    service::TlsOptions tls;
    tls.port = static_cast<std::uint16_t>(*tlsPort);
    tls.certificateFile = PathFrom(TextFrom(ini, kTlsCertificateKey).value_or(""), programFolder);
    tls.privateKeyFile = PathFrom(TextFrom(ini, kTlsKeyKey).value_or(""), programFolder);
    options.tls = std::move(tls);
  }

  service::ListenerLimits& limits = options.limits;
  auto number = [&](std::string_view key) { return NumberFrom(ini.Get(kConfigSection, key)); };
  auto milliseconds = [&](std::string_view key, std::chrono::milliseconds& into) {
    if (const auto value = number(key); value && *value > 0) into = std::chrono::milliseconds(*value);
  };
  if (const auto mib = number(kBodyMemoryKey); mib && *mib > 0 && *mib < (1ull << 40)) {
    limits.bodyBudget = *mib << 20;
  }
  if (const auto count = number(kMaxConnectionsKey); count && *count > 0) limits.maxConnections = *count;
  if (const auto count = number(kPerAddressKey); count && *count > 0) limits.maxConnectionsPerAddress = *count;
  if (const auto count = number(kLoginFailuresKey)) limits.freeLoginFailures = *count;
  if (const auto rate = number(kBodyRateKey)) limits.minBodyRate = *rate;
  milliseconds(kHeaderDeadlineKey, limits.headerDeadline);
  milliseconds(kIdleKey, limits.idleTimeout);
  milliseconds(kBodyGraceKey, limits.bodyGrace);
  return options;
}

service::ListenerOptions LoadListenerOptions(const std::filesystem::path& programFolder) {
  const auto file = programFolder / std::string(kConfigFileName);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return {};
  return ListenerOptionsFrom(IniFile::Load(file), programFolder);
}

}  // namespace quelvar::host
