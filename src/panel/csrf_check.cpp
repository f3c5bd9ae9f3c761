#include "panel/csrf_check.h"

#include <openssl/crypto.h>

#include "panel/request_parts.h"

namespace quelvar::panel {

bool FormTokenMatches(const Session& session, std::string_view presented) {
  if (session.formToken.empty() || presented.size() != session.formToken.size()) return false;
  return CRYPTO_memcmp(presented.data(), session.formToken.data(), presented.size()) == 0;
}

bool CarriesFormToken(const service::HttpRequest& request, const Session& session) {
  const auto value = SingleHeader(request, kFormTokenHeader);
  return value && FormTokenMatches(session, *value);
}

}  // namespace quelvar::panel
