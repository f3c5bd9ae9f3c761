#pragma once
// The configured database path (`vLocalDB`). Request threads read it each time
// a service module connects; the host replaces it when the configuration
// changes. A reader always obtains a whole path, the old one or the new one.

#include <string>
#include <utility>

#include "service/shared_text.h"

namespace quelvar::service {

class DatabasePath : public SharedText {
 public:
  explicit DatabasePath(std::string path) : SharedText(std::move(path)) {}
  // get() and set(std::string) come from SharedText.
};

}  // namespace quelvar::service
