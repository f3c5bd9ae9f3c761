#pragma once
// The integrity component of the service module (`SQLiteValidate1`) and the
// "Reordena" event built on it.
//
// Each action runs on a connection of its own, opened for the action and
// closed afterwards, with the connect settings of the module's connection
// (the same journal, so the action never switches the file's journal mode).
// Nothing changes the file while an action runs: with the rollback journal
// the connection's locking mode is exclusive (every lock taken is kept until
// the action ends, so other connections wait under their busy timeout); with
// the write-ahead log the action holds the server's writer lock, so saves
// wait for it under the same timeout while readers keep reading. The pool's
// idle connections are closed before and after each action.

#include <string>

#include "formats/params.h"
#include "service/handler_registry.h"

namespace quelvar {
class TDM;
}

namespace quelvar::tools {

class IntegrityValidator {
 public:
  // Log entries go to the operator log of `dm`; `databaseFile` is the file
  // the actions work on.
  IntegrityValidator(const TDM& dm, std::string databaseFile);

  // "ANALYZE".
  void Analyse();
  // "PRAGMA integrity_check": true when the result has no row or one row
  // reading "ok" (any case). Otherwise every row is split at line feeds and
  // each line is logged as "Validate MSG: \r" + line. The outcome is told to
  // the module's console (integrityChecked).
  bool Check();
  // "VACUUM".
  void Compact();

 private:
  template <typename Action>
  auto OnOwnConnection(Action action);

  const TDM& dm_;
  std::string databaseFile_;
};

// Analyse, check ("OK" into `answer` when the check passed; otherwise it
// keeps its value), then compact, whether the check passed or not.
void ReordenaBanco(TDM& dm, std::string& answer);

// "Reordena": `Resposta` := the answer of ReordenaBanco; on an error
// "Ocorreu um erro no teste de integridade \r" + message (logged
// "Reordena --> \r" + message).
void Reordena(TDM& dm, TDWParams& params, std::string& result);

}  // namespace quelvar::tools
