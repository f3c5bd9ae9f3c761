#pragma once
// The configured database path (`vLocalDB`). Request threads read it each time
// a service module connects; the host replaces it when the configuration
// changes. A reader always obtains a whole path, the old one or the new one.
//
// It also carries the server's open connections to that file: the pool is
// drained whenever a new path is set.

#include <string>
#include <utility>

#include "data/connection_pool.h"
#include "data/shared_text.h"

namespace quelvar {

class DatabasePath : public SharedText {
 public:
  explicit DatabasePath(std::string path) : SharedText(std::move(path)) {}
  // get() comes from SharedText.

  void set(std::string path) {
    SharedText::set(std::move(path));
    connections_.Drain();
  }

  // The open connections (and the writers' lock) of the configured file.
  ConnectionPool& Connections() const { return connections_; }

 private:
  mutable ConnectionPool connections_;
};

}  // namespace quelvar
