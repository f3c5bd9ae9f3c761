#pragma once
// The built-in status page, answered to a request that names neither an event
// group nor an event (for instance GET /).

#include <string_view>

namespace quelvar::service {

inline constexpr std::string_view kStatusPage =
    "<!DOCTYPE html><html><head><meta charset=\"UTF-8\"/><title>Quelvar Event Server</title></head><body>"
    "<h1>Quelvar Event Server</h1><h2>Server Status - Online</h2></body></html>";

}  // namespace quelvar::service
