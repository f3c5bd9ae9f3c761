#include "client/client_record_sets.h"

#include <vector>

#include "client/table_file.h"
#include "data/mem_table.h"
#include "formats/text_codec.h"

namespace quelvar::client {
namespace {

struct ClientRecordSet {
  std::string_view group;
  std::string_view event;
  std::string_view param;
  std::vector<FieldDef> fields;
};

const std::vector<ClientRecordSet>& Definitions() {
  static const std::vector<ClientRecordSet> kDefinitions = {
      {"DWServerEventsFerramentas",
       "ListaArquivosBackups",
       "Tabela",
       {FieldDef{.name = "NomeArquivo", .type = TFieldType::ftWideString, .size = 255},
        FieldDef{.name = "Tamanho", .type = TFieldType::ftInteger}}},
  };
  return kDefinitions;
}

std::string_view WithoutModulePrefix(std::string_view group) {
  constexpr std::string_view kPrefix = "TDM.";
  if (group.size() >= kPrefix.size() && EqualsIgnoreCase(group.substr(0, kPrefix.size()), kPrefix))
    group.remove_prefix(kPrefix.size());
  return group;
}

}  // namespace

std::optional<std::string> ClientDefinedRecordSet(std::string_view group, std::string_view event,
                                                  std::string_view param) {
  for (const ClientRecordSet& d : Definitions()) {
    if (!EqualsIgnoreCase(WithoutModulePrefix(group), d.group) || !EqualsIgnoreCase(event, d.event) ||
        !EqualsIgnoreCase(param, d.param))
      continue;
    MemTable table;
    for (const FieldDef& f : d.fields) table.AddFieldDef(f);
    table.Open();
    return RecordSetText(table);
  }
  return std::nullopt;
}

}  // namespace quelvar::client
