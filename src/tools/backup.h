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
//
// Both targets are checked first (see backup_writer.h): neither may be the
// live database, its side files, Config1.ini or the executable, an existing
// target must be an earlier backup (a database file), and the second folder
// must exist; a refusal writes nothing. Each copy is written to a temporary
// file, checked, flushed and renamed over the target, so a failure leaves
// the earlier backup of that name as it was. The copy in the second folder
// is made from the checked copy in the backup folder.
void GeraBackup(TDM& dm, const std::string& fileName, const std::string& secondFolder, std::string& answer);

// Creates `folder` (one level) when missing.
void CriaPastaBackup(const std::filesystem::path& folder);

// "Backup": `Resposta` := the answer of GeraBackup(`Destino1`, `Destino2`);
// on an error "Ocorreu um erro na geração do backup. \r" + message (logged
// "Backup --> \r" + message).
void Backup(TDM& dm, TDWParams& params, std::string& result);

}  // namespace quelvar::tools
