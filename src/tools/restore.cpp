#include "tools/restore.h"

#include <filesystem>
#include <system_error>

#include "data/tdm.h"
#include "formats/errors.h"
#include "tools/backup_files.h"
#include "tools/online_copy.h"

namespace quelvar::tools {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCopyFailure = "Ocorreu um erro na cópia do backup.\rMensagem original: ";

[[noreturn]] void ThrowCopyFailure(const std::string& message) { throw Error(std::string(kCopyFailure) + message); }

}  // namespace

void RestauraBackup(TDM& dm, const std::string& fileName, std::string& answer) {
  dm.Database1.Close();
  if (!IsPlainFileName(fileName)) ThrowCopyFailure(std::make_error_code(std::errc::invalid_argument).message());
  const fs::path source = BackupFolder(dm) / fileName;
  std::error_code ec;
  if (!fs::is_regular_file(source, ec))
    ThrowCopyFailure((ec ? ec : std::make_error_code(std::errc::no_such_file_or_directory)).message());
  try {
    OnlineCopy(source.string(), dm.DatabaseFile(), CopyTarget::kExisting);
  } catch (const std::exception& e) {
    ThrowCopyFailure(e.what());
  }
  answer = "OK";
}

void Restore(TDM& dm, TDWParams& params, std::string& /*result*/) {
  try {
    const std::string origem = params.Item("Origem").GetAsString();
    std::string answer;
    RestauraBackup(dm, origem, answer);
    params.Item("Resposta").SetAsString(answer);
  } catch (const std::exception& e) {
    dm.Log(std::string("Restore --> \r") + e.what());
    if (TJSONParam* resposta = params.GetRecName("Resposta"))
      resposta->SetAsString(std::string("Ocorreu um erro ao restaurar o backup. \r") + e.what());
  }
}

}  // namespace quelvar::tools
