#pragma once
// "Restore": a copy from the program's backup folder put in place of the live
// database. The copy goes through the engine's online backup into the live
// file, under the engine's locks: requests running meanwhile see the old
// database or the restored one, and a failed restore leaves the live file
// unchanged.

#include <string>

#include "formats/params.h"

namespace quelvar {
class TDM;
}

namespace quelvar::tools {

// Replaces the live database by BackupFolder/fileName; `answer` := "OK".
// Raises Error("Ocorreu um erro na cópia do backup.\rMensagem original: " +
// the system's or engine's message) when the source is missing, is not a
// plain file name, or cannot be copied.
void RestauraBackup(TDM& dm, const std::string& fileName, std::string& answer);

// "Restore": `Resposta` := the answer of RestauraBackup(`Origem`); on an
// error "Ocorreu um erro ao restaurar o backup. \r" + message (logged
// "Restore --> \r" + message).
void Restore(TDM& dm, TDWParams& params, std::string& result);

}  // namespace quelvar::tools
