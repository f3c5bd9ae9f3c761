#pragma once
// The failure to activate the listener.

#include <stdexcept>

namespace quelvar::service {

// Raised when the listener cannot be activated; what() is the socket layer's
// message (for instance "Address already in use").
class ListenerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace quelvar::service
