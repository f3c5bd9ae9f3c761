#pragma once
// A backup copy of a database file, written whole or not at all.
//
//   WriteBackupSafely("/srv/quelvar/QuelvarDB.db3", "/srv/quelvar/Backup/Seg.db3");
//
// 1. Refusals, before anything is written (Error):
//    - a destination that resolves (symbolic links and ".." resolved, hard
//      links recognised) to the source, its side files ("-journal", "-wal",
//      "-shm") or any file of `alsoProtected`;
//    - an existing destination that does not carry the backup mark (an
//      earlier backup of this server may be replaced, nothing else: not
//      another program's database, nor another shop's live file), or that is
//      not a regular file;
//    - a destination whose folder does not exist (the copy message with the
//      system's "No such file or directory").
// 2. Leftovers of copies to the same destination that a killed process left
//    behind are removed.
// 3. The engine's online backup copies the source (opened read-only, busy
//    timeout of the module's connection, every page in one step) into a new
//    temporary file in the destination's folder, named
//    ".<destination name>.parcial-<pid>-<random>" (hidden, never "*.db3").
// 4. The copy is made a self-contained single file (rollback-journal form),
//    gets the backup mark (kBackupMark as the file's application id) and must
//    pass the engine's integrity check.
// 5. The file is flushed to the disk, renamed over the destination, and the
//    folder is flushed.
// On any failure the temporary file is removed and an earlier destination
// file stays as it was. Engine failures of the copy raise EngineError with the
// engine's message ("[SQLite] database or disk is full"); other failures raise
// Error with the messages below. Safe to call from several threads at once.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

struct sqlite3;

namespace quelvar::tools {

// The message prefix of a copy that failed for a system reason.
inline constexpr std::string_view kBackupCopyFailure = "Ocorreu um erro na cópia do backup.\rMensagem original: ";
// Refusals.
inline constexpr std::string_view kBackupTargetProtected =
    "O destino do backup é um arquivo do próprio servidor e não pode ser substituído: ";
inline constexpr std::string_view kBackupTargetNotBackup =
    "O destino do backup já existe e não é um backup de banco de dados; ele não será substituído: ";
inline constexpr std::string_view kBackupCopyUnsound = "A cópia do backup não passou no teste de validade.";

// The application id the writer puts on every copy it makes. A database put
// back from a backup has it cleared again (ClearBackupMark), so that a live
// file never passes for a backup.
inline constexpr std::uint32_t kBackupMark = 0x51564231;

// True when `file` is a regular database file whose header carries kBackupMark.
bool CarriesBackupMark(const std::filesystem::path& file);

// Sets the application id of the open database `db` back to 0. Raises EngineError.
void ClearBackupMark(sqlite3* db);

void WriteBackupSafely(const std::filesystem::path& source, const std::filesystem::path& destination,
                       std::span<const std::filesystem::path> alsoProtected = {});

// Step 1 alone: raises the refusal WriteBackupSafely would raise for
// `destination`, or returns.
void RequireBackupTarget(const std::filesystem::path& source, const std::filesystem::path& destination,
                         std::span<const std::filesystem::path> alsoProtected = {});

}  // namespace quelvar::tools
