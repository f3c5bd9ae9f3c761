#pragma once
// The settings every connection to the database file is opened with.
//
// Opening: the file is opened for reading and writing (created empty when
// missing and `create` is set), a busy timeout of 10000 ms, the defensive
// mode on (no hand-written change of the schema table or the file's
// internals), the tokenizer function of the full-text search and extension
// loading off, then one statement each, in this order:
//   "PRAGMA cache_size = 10000", "PRAGMA locking_mode = Normal" (Exclusive for
//   the maintenance connection), "PRAGMA synchronous = ...",
//   "PRAGMA journal_mode = ...", "PRAGMA foreign_keys = On".
//
// The journal: by default the write-ahead log with synchronous Normal, which
// survives a power cut without corruption (a save acknowledged after the last
// sync of the log may be lost, never half-kept) and lets readers and the
// writer work at the same time. The log and its shared-memory index live in
// side files beside the database ("-wal", "-shm"), so the folder must be on a
// local disk. For storage that cannot hold the shared-memory file the
// rollback journal is kept, with synchronous Full (every commit flushed).
// Converting a rollback-journal file to the log happens once, at the first
// open, and keeps every row.
//
// Every connection of one server applies the same journal, so no connection
// switches the file to the other mode behind the others' back.

#include <string>

#include "data/sqlite_handles.h"

namespace quelvar {

enum class JournalChoice {
  kWriteAheadLog,  // "WAL" with synchronous Normal (the default)
  kRollback,       // "Delete" with synchronous Full
};

enum class LockingChoice {
  kNormal,     // locks only while a statement or transaction needs them
  kExclusive,  // every lock kept until the connection closes
};

// Busy timeout of every connection, in milliseconds.
inline constexpr int kBusyTimeoutMs = 10000;

// The PRAGMA statements of the connect sequence, in order.
const char *const *ConnectPragmas(JournalChoice journal, LockingChoice locking);
inline constexpr int kConnectPragmaCount = 5;

// Opens `path` and applies the connect sequence. An empty path (or one with a
// NUL) is refused with the engine's "unable to open database file" rather
// than opening a private temporary database. Raises EngineError.
SqliteConnection OpenConfigured(const std::string &path, JournalChoice journal, LockingChoice locking, bool create);

}  // namespace quelvar
