#pragma once
// The operator's view of the server: the request counter and the operator log.
// Core code reaches the window only through this interface.

#include <string>

namespace quelvar {

struct OperatorConsole {            // thread-safe; called from request threads
  virtual void countModule() = 0;   // +1 on every TDM creation
  virtual void log(std::string entry) = 0;  // one operator-log entry, CRs kept
  virtual ~OperatorConsole() = default;
};

}  // namespace quelvar
