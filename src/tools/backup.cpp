#include "tools/backup.h"

#include <system_error>

#include "data/engine_error.h"
#include "data/tdm.h"
#include "formats/errors.h"
#include "inventory/config_record.h"
#include "tools/backup_files.h"
#include "tools/integrity_check.h"
#include "tools/online_copy.h"

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

void ExcluiArquivoBackup(const fs::path& folder, const std::string& name) {
  const fs::path file = folder / name;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(file, ec))) return;
  if (!fs::remove(file, ec) || ec)
    throw Error("Ocorreu um erro ao excluir o backup.\rMensagem original: " +
                (ec ? ec.message() : std::string("o arquivo não foi excluído")));
}

void CopiaArquivoBackup(const fs::path& source, const fs::path& destination) {
  std::error_code ec;
  fs::copy_file(source, destination, fs::copy_options::none, ec);
  if (ec) throw Error("Ocorreu um erro na cópia do backup.\rMensagem original: " + ec.message());
}

void GeraBackup(TDM& dm, const std::string& fileName, const std::string& secondFolder, std::string& answer) {
  RequirePlainFileName(fileName);
  const fs::path folder = BackupFolder(dm);
  dm.Database1.Handle();
  const std::string databaseFile = dm.DatabaseFile();

  if (!IntegrityValidator(dm, databaseFile).Check()) throw Error("Erro no teste de validade do banco de dados.");

  CriaPastaBackup(folder);
  ExcluiArquivoBackup(folder, fileName);
  if (!secondFolder.empty()) ExcluiArquivoBackup(secondFolder, fileName);

  const fs::path backupFile = folder / fileName;
  try {
    OnlineCopy(databaseFile, backupFile.string(), CopyTarget::kCreate);
  } catch (const EngineError& e) {
    dm.Log(std::string("Backup Error --> \r") + e.what());
    throw;
  }
  if (!secondFolder.empty()) CopiaArquivoBackup(backupFile, fs::path(secondFolder) / fileName);

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
