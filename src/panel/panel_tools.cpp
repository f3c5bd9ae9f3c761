#include "panel/panel_tools.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <system_error>

#include "data/tdm.h"
#include "formats/params.h"
#include "formats/text_codec.h"
#include "tools/backup.h"
#include "tools/backup_files.h"
#include "tools/integrity_check.h"
#include "tools/restore.h"

namespace quelvar::panel {
namespace {

namespace fs = std::filesystem;

std::time_t ToTimeT(fs::file_time_type when) {
  // The file clock and the system clock differ by a constant: carry the
  // distance from now across.
  const auto system = std::chrono::system_clock::now() +
                      std::chrono::duration_cast<std::chrono::system_clock::duration>(when - fs::file_time_type::clock::now());
  return std::chrono::system_clock::to_time_t(system);
}

TJSONParam& AddParam(TDWParams& params, std::string_view name, TObjectDirection direction) {
  TJSONParam& param = params.AddNew();
  param.SetParamName(name);
  param.SetDirection(direction);
  param.SetValueType(TObjectValue::ovString);
  return param;
}

}  // namespace

bool IsBackupName(const std::string& name) {
  constexpr std::string_view kExtension = ".db3";
  // No control characters nor quotes either: the name goes into a header of the download.
  const bool tame = std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '"';
  });
  return tame && tools::IsPlainFileName(name) && name.size() > kExtension.size() &&
         EqualsIgnoreCase(std::string_view(name).substr(name.size() - kExtension.size()), kExtension);
}

std::vector<BackupFile> PanelTools::Backups() const {
  std::vector<BackupFile> files;
  std::error_code ec;
  for (fs::directory_iterator it(BackupFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code fileError;
    if (!IsBackupName(name) || !it->is_regular_file(fileError)) continue;
    BackupFile file{name, it->file_size(fileError), 0};
    const auto written = it->last_write_time(fileError);
    if (!fileError) file.modified = ToTimeT(written);
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(), [](const BackupFile& a, const BackupFile& b) {
    return a.modified != b.modified ? a.modified > b.modified : a.name < b.name;
  });
  return files;
}

std::string PanelTools::RunEvent(void (*event)(TDM&, TDWParams&, std::string&),
                                 const std::vector<std::pair<std::string_view, std::string>>& inputs) {
  std::lock_guard guard(acting_);
  TDM dm(*sources_.console, sources_.databasePath, sources_.programFolder);
  TDWParams params;
  for (const auto& [name, value] : inputs) AddParam(params, name, TObjectDirection::odIN).SetAsString(value);
  AddParam(params, "Resposta", TObjectDirection::odOUT);
  std::string result;
  event(dm, params, result);
  return params.Item("Resposta").GetAsString();
}

std::string PanelTools::Backup(const std::string& name) {
  return RunEvent(tools::Backup, {{"Destino1", name}, {"Destino2", ""}});
}

std::string PanelTools::Restore(const std::string& name) { return RunEvent(tools::Restore, {{"Origem", name}}); }

std::string PanelTools::Check() {
  std::lock_guard guard(acting_);
  TDM dm(*sources_.console, sources_.databasePath, sources_.programFolder);
  try {
    const bool ok = tools::IntegrityValidator(dm, dm.DatabaseFile()).Check();
    return ok ? "OK" : "Erro no teste de validade do banco de dados.";
  } catch (const std::exception& failure) {
    dm.Log(std::string("Validate --> \r") + failure.what());
    return failure.what();
  }
}

std::string PanelTools::Compact() {
  std::lock_guard guard(acting_);
  TDM dm(*sources_.console, sources_.databasePath, sources_.programFolder);
  try {
    tools::IntegrityValidator(dm, dm.DatabaseFile()).Compact();
    return "OK";
  } catch (const std::exception& failure) {
    dm.Log(std::string("Compacta --> \r") + failure.what());
    return failure.what();
  }
}

std::optional<std::string> PanelTools::Download(const std::string& name) const {
  if (!IsBackupName(name)) return std::nullopt;
  const fs::path file = BackupFolder() / name;
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(file, ec)) || fs::file_size(file, ec) > kMaxDownloadBytes || ec) {
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() > kMaxDownloadBytes) return std::nullopt;
  return bytes;
}

}  // namespace quelvar::panel
