#pragma once
// Record sets the desktop clients define themselves and the server only
// fills: an in-out parameter whose answer keeps the fields the client sent.
// When no rows file gives such a parameter, the client sends it empty with
// the fields the desktop clients give it.
//
//   DWServerEventsFerramentas ListaArquivosBackups Tabela:
//     NomeArquivo (text, 255 characters), Tamanho (integer)

#include <optional>
#include <string>
#include <string_view>

namespace quelvar::client {

// The empty record set (holder text, as RecordSetText writes it) for
// parameter `param` of `event` in `group`; nullopt when the desktop clients
// define none. Names match in any letter case; the group may carry the
// "TDM." prefix.
std::optional<std::string> ClientDefinedRecordSet(std::string_view group, std::string_view event,
                                                  std::string_view param);

}  // namespace quelvar::client
