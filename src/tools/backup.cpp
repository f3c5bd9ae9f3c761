#include "tools/backup.h"

#include <system_error>
#include <vector>

#include "data/engine_error.h"
#include "data/tdm.h"
#include "formats/errors.h"
#include "inventory/config_record.h"
#include "service/protected_files.h"
#include "tools/backup_files.h"
#include "tools/backup_writer.h"
#include "tools/integrity_check.h"

namespace quelvar::tools {

namespace fs = std::filesystem;

void CriaPastaBackup(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return;
  if (!fs::create_directory(folder, ec) || ec)
    throw Error(
        "Não foi possível criar a pasta de destino para realizar o backup.\r"
        "Verifique se você possui permissões para isso e tente novamente. ");
}

void GeraBackup(TDM& dm, const std::string& fileName, const std::string& secondFolder, std::string& answer) {
  RequirePlainFileName(fileName);
  const fs::path folder = BackupFolder(dm);
  dm.Database1.Handle();
  const std::string databaseFile = dm.DatabaseFile();
  const std::vector<fs::path> guarded = service::ProtectedFiles(databaseFile, dm.ProgramFolder());

  // Every target is checked before anything is written, so a refused request
  // changes no file.
  const fs::path backupFile = folder / fileName;
  const fs::path secondFile = secondFolder.empty() ? fs::path() : fs::path(secondFolder) / fileName;
  if (!secondFolder.empty()) RequireBackupTarget(databaseFile, secondFile, guarded);
  if (fs::is_directory(folder)) RequireBackupTarget(databaseFile, backupFile, guarded);

  if (!IntegrityValidator(dm, databaseFile).Check()) throw Error("Erro no teste de validade do banco de dados.");

  CriaPastaBackup(folder);
  try {
    WriteBackupSafely(databaseFile, backupFile, guarded);
  } catch (const EngineError& e) {
    dm.Log(std::string("Backup Error --> \r") + e.what());
    throw;
  }
  if (!secondFolder.empty()) {
    try {
      WriteBackupSafely(backupFile, secondFile, guarded);
    } catch (const EngineError& e) {
      throw Error(std::string(kBackupCopyFailure) + e.what());
    }
  }

  answer = "Backup gerado com sucesso.\r\rO nome do backup gerado foi " + fileName + "\r" + "No servidor, na pasta " +
           folder.string() + "\r" + "\r" + "Copie este backup para um pendrive para se prevenir" + "\r" +
           "de qualquer problema que possa ocorrer" + "\r" + "\r" +
           "É sua responsabilidade manter uma cópia do backup em segurança.";

  inventory::AtualizaDataBackup(dm);
}

void Backup(TDM& dm, TDWParams& params, std::string& /*result*/) {
  try {
    const std::string destino2 = params.Item("Destino2").GetAsString();
    const std::string destino1 = params.Item("Destino1").GetAsString();
    std::string answer;
    GeraBackup(dm, destino1, destino2, answer);
    params.Item("Resposta").SetAsString(answer);
  } catch (const std::exception& e) {
    dm.Log(std::string("Backup --> \r") + e.what());
    if (TJSONParam* resposta = params.GetRecName("Resposta"))
      resposta->SetAsString(std::string("Ocorreu um erro na geração do backup. \r") + e.what());
  }
}

}  // namespace quelvar::tools
