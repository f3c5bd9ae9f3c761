#pragma once
// "Backup": a copy of the live database file in the program's backup folder
// (and optionally in a second folder), made with the engine's online backup
// after an integrity check; the date goes into T03_UltimoBackup.

#include <filesystem>
#include <string>

#include "formats/params.h"

namespace quelvar {
class TDM;
}

namespace quelvar::tools {

// Checks, copies to BackupFolder/fileName (and secondFolder/fileName when
// `secondFolder` is not empty), records today's date and sets `answer` to
// the success text. Raises Error with the message to report.
void GeraBackup(TDM& dm, const std::string& fileName, const std::string& secondFolder, std::string& answer);

// Creates `folder` (one level) when missing.
void CriaPastaBackup(const std::filesystem::path& folder);
// Deletes folder/name when that file exists.
void ExcluiArquivoBackup(const std::filesystem::path& folder, const std::string& name);
// Copies one file, never over an existing destination.
void CopiaArquivoBackup(const std::filesystem::path& source, const std::filesystem::path& destination);

// "Backup": `Resposta` := the answer of GeraBackup(`Destino1`, `Destino2`);
// on an error "Ocorreu um erro na geração do backup. \r" + message (logged
// "Backup --> \r" + message).
void Backup(TDM& dm, TDWParams& params, std::string& result);

}  // namespace quelvar::tools
