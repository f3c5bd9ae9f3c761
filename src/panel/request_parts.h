#pragma once
// What the panel reads of a request: a header, a cookie, the fields of a
// url-encoded form or query.

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "service/http_exchange.h"

namespace quelvar::panel {

// The value of the header `name` (any letter case) when it occurs exactly once.
std::optional<std::string> SingleHeader(const service::HttpRequest& request, std::string_view name);

// The value of the cookie `name` in the request's Cookie headers; the first wins.
std::optional<std::string> CookieValue(const service::HttpRequest& request, std::string_view name);

// The fields of a url-encoded text ("a=1&b=x+y"), decoded; the first of a name wins.
std::map<std::string, std::string> FormFields(std::string_view text);

}  // namespace quelvar::panel
