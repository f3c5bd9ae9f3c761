#pragma once
// The check every panel action passes: the request carries its session's form
// token in the header "X-Token-Painel". A page of another site can make the
// browser send the cookie, but cannot read the token to send it along.

#include <string_view>

#include "panel/session_store.h"
#include "service/http_exchange.h"

namespace quelvar::panel {

inline constexpr std::string_view kFormTokenHeader = "X-Token-Painel";

// True when `presented` equals the session's form token (compared in constant
// time; an empty token never matches).
bool FormTokenMatches(const Session& session, std::string_view presented);

// The same for the header of `request` (name matched without regard to case;
// absent or repeated: no match).
bool CarriesFormToken(const service::HttpRequest& request, const Session& session);

}  // namespace quelvar::panel
