#pragma once
// The operator's view of the server: the request counter, the operator log
// and the outcome of the last integrity check of the database. Core code
// reaches the window only through this interface.

#include <string>

namespace quelvar {

struct OperatorConsole {            // thread-safe; called from request threads
  virtual void countModule() = 0;   // +1 on every TDM creation
  virtual void log(std::string entry) = 0;  // one operator-log entry, CRs kept
  // The integrity check of the live database ran to its end: `passed` or not.
  // Whatever ran it (a client's event, a backup, the window, the panel).
  virtual void integrityChecked(bool /*passed*/) {}
  virtual ~OperatorConsole() = default;
};

}  // namespace quelvar
