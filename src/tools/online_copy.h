#pragma once
// Copies one database file into another with the engine's online backup:
// every page in a single step, inside the engine's own locks, so readers of
// the destination see either its old content or the new one, and a failed
// copy leaves the destination as it was.

#include <string>

namespace quelvar::tools {

enum class CopyTarget {
  kCreate,    // the destination file is created when missing
  kExisting,  // the destination must exist (it is a live database)
  kScratch,   // a new file no one else opens: written without a journal and
              // without flushes (the caller flushes it and renames it)
};

// Source opened read-only, both connections with the busy timeout of the
// module's connection. Raises EngineError with the engine's message.
void OnlineCopy(const std::string& source, const std::string& destination, CopyTarget target);

}  // namespace quelvar::tools
