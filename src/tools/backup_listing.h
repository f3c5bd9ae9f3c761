#pragma once
// "ListaArquivosBackups": the "*.db3" files of the program's backup folder
// as a record set whose fields the client defines.

#include <cstdint>
#include <string>

#include "formats/params.h"

namespace quelvar {
class MemTable;
class TDM;
}  // namespace quelvar

namespace quelvar::tools {

// Size in KiB: bytes / 1024 rounded to the nearest integer, halves to even.
std::int64_t SizeInKiB(std::uintmax_t bytes);

// Drops the rows of `table` (its fields stay) and appends one row per entry
// of the backup folder named "*.db3" (letter case ignored), in directory
// order: `NomeArquivo` the name, `Tamanho` the size in KiB. No folder, no rows.
MemTable& ListaBackups(TDM& dm, MemTable& table);

// `Tabela` (the client's record set) decoded into MemTable1, filled and
// written back as dataset JSON; on an error logged as
// "ConsultaConfig --> \r" + message, `Tabela` keeps the client's text.
void ListaArquivosBackups(TDM& dm, TDWParams& params, std::string& result);

}  // namespace quelvar::tools
