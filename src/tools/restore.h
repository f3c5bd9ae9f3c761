#pragma once
// "Restore": a copy from the program's backup folder put in place of the live
// database. The copy goes through the engine's online backup into the live
// file, under the engine's locks: requests running meanwhile see the old
// database or the restored one, and a failed restore leaves the live file
// unchanged. Before the copy, the database it replaces is kept in the backup
// folder as "AntesDoRestore-<date-time>.db3" (through the safe backup writer;
// without that copy there is no restore), and a restore that succeeds leaves
// one log entry naming the source file, the client's address and the copy.

#include <filesystem>
#include <string>
#include <string_view>

#include "formats/params.h"

namespace quelvar {
class TDM;
}

namespace quelvar::tools {

// Reasons a backup file is refused as a restore source.
inline constexpr std::string_view kRestoreBadName = "nome de arquivo de backup inválido (só um nome da pasta Backup): ";
inline constexpr std::string_view kRestoreEmpty = "o arquivo de backup está vazio";
inline constexpr std::string_view kRestoreNotDatabase = "o arquivo de backup não é um banco de dados";
inline constexpr std::string_view kRestoreIncomplete = "o arquivo de backup está incompleto";
inline constexpr std::string_view kRestoreUnsound = "o arquivo de backup não passou no teste de validade";
inline constexpr std::string_view kRestoreMissingTable = "o arquivo de backup não tem a tabela ";
inline constexpr std::string_view kRestoreNotKept = "o banco atual não pôde ser guardado antes da restauração: ";

// The name prefix of the copies a restore keeps of the database it replaces.
inline constexpr std::string_view kBeforeRestorePrefix = "AntesDoRestore-";

// Returns when `file` may replace the live database: a regular, non-empty
// database file as long as its header says, passing the engine's integrity
// check and holding every table of the shipped schema. Raises Error("Ocorreu
// um erro na cópia do backup.\rMensagem original: " + the reason) otherwise.
void RequireRestorableDatabase(const std::filesystem::path& file);

// Replaces the live database by BackupFolder/fileName; `answer` := "OK".
// Raises Error("Ocorreu um erro na cópia do backup.\rMensagem original: " +
// the system's or engine's message) when the source is missing, is not a
// plain file name, is refused by RequireRestorableDatabase, or cannot be
// copied; the live file is then unchanged.
void RestauraBackup(TDM& dm, const std::string& fileName, std::string& answer);

// "Restore": `Resposta` := the answer of RestauraBackup(`Origem`); on an
// error "Ocorreu um erro ao restaurar o backup. \r" + message (logged
// "Restore --> \r" + message).
void Restore(TDM& dm, TDWParams& params, std::string& result);

}  // namespace quelvar::tools
