#include "tools/backup_listing.h"

#include <filesystem>
#include <system_error>

#include "data/mem_table.h"
#include "data/tdm.h"
#include "data/dataset_json.h"
#include "formats/errors.h"
#include "tools/backup_files.h"

namespace quelvar::tools {

namespace fs = std::filesystem;

namespace {

bool HasBackupExtension(const std::string& name) {
  constexpr std::string_view kExtension = ".db3";
  if (name.size() < kExtension.size()) return false;
  for (std::size_t i = 0; i < kExtension.size(); ++i) {
    char c = name[name.size() - kExtension.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kExtension[i]) return false;
  }
  return true;
}

}  // namespace

std::int64_t SizeInKiB(std::uintmax_t bytes) {
  std::uintmax_t whole = bytes / 1024;
  const std::uintmax_t rest = bytes % 1024;
  if (rest > 512 || (rest == 512 && whole % 2 == 1)) ++whole;
  return static_cast<std::int64_t>(whole);
}

MemTable& ListaBackups(TDM& dm, MemTable& table) {
  table.Close();
  table.Open();
  std::error_code ec;
  fs::directory_iterator it(BackupFolder(dm), ec);
  if (ec) return table;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) throw Error(ec.message());
    const std::string name = it->path().filename().string();
    if (!HasBackupExtension(name)) continue;
    std::error_code sizeError;
    const std::uintmax_t bytes = it->is_regular_file(sizeError) ? it->file_size(sizeError) : 0;
    table.Append();
    table.SetValue("NomeArquivo", Variant::Text(name));
    table.SetValue("Tamanho", Variant::Integer(SizeInKiB(sizeError ? 0 : bytes)));
    table.Post();
  }
  if (ec) throw Error(ec.message());
  return table;
}

void ListaArquivosBackups(TDM& dm, TDWParams& params, std::string& /*result*/) {
  try {
    dm.MemTable1.Close();
    TJSONValue input;
    WriteToDataset(input, params.Item("Tabela").GetAsString(), dm.MemTable1);
    ListaBackups(dm, dm.MemTable1);
    TJSONValue output;
    output.vEncoding = dm.Encoding;
    LoadFromDataset(output, "temp", dm.MemTable1, true);
    params.Item("Tabela").SetAsString(output.ToJSON());
  } catch (const std::exception& e) {
    dm.Log(std::string("ConsultaConfig --> \r") + e.what());
  }
}

}  // namespace quelvar::tools
