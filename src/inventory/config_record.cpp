#include "inventory/config_record.h"

#include <array>

#include "data/local_clock.h"
#include "data/tdm.h"
#include "formats/errors.h"
#include "inventory/event_handlers.h"
#include "inventory/statement.h"

namespace quelvar::inventory {

MemTable& ConsultaConfig(TDM& dm, const QueryArgs& /*args*/) {
  SetStatement(dm.Query1, {"Select * From T03_CONF "});
  dm.Query1.Open();
  dm.Query1.LoadInto(dm.MemTable1);
  return dm.MemTable1;
}

void GravaConfig(TDM& dm, MemTable& header, MemTable& /*items*/, std::string& answer) {
  try {
    dm.Database1.StartTransaction();
    SetStatement(dm.Query1, {
                                "Update T03_CONF             ",
                                "Set   ",
                                "T03_Rodape         = :p00 , ",
                                "T03_MargemSup      = :p01 , ",
                                "T03_RelTelaParcial = :p02 , ",
                                "T03_PastaBackup    = :p03 , ",
                                "T03_ArqFoto        = :p04 , ",
                                "T03_CasasDecV      = :p05 , ",
                                "T03_CasasDecQ      = :p06 , ",
                                "T03_CriarAtalho    = :p07 , ",
                                "T03_AvisoEstqMin   = :p08   ",
                                "Where 1 = 1                 ",
                            });
    Query& q = dm.Query1;
    q.Param(0).AsString(header.AsString("T03_Rodape"));
    q.Param(1).AsInteger(header.AsInteger("T03_MargemSup"));
    q.Param(2).AsBoolean(header.AsBoolean("T03_RelTelaParcial"));
    q.Param(3).AsString(header.AsString("T03_PastaBackup"));
    q.Param(4).AsString(header.AsString("T03_ArqFoto"));
    q.Param(5).AsInteger(header.AsInteger("T03_CasasDecV"));
    q.Param(6).AsInteger(header.AsInteger("T03_CasasDecQ"));
    q.Param(7).AsBoolean(header.AsBoolean("T03_CriarAtalho"));
    q.Param(8).AsBoolean(header.AsBoolean("T03_AvisoEstqMin"));
    q.ExecSQL();
    dm.Database1.Commit();
    answer = "OK";
  } catch (const std::exception& e) {
    dm.Database1.Rollback();
    throw Error(e.what());
  }
}

void AtualizaDataBackup(TDM& dm) {
  try {
    dm.Database1.StartTransaction();
    SetStatement(dm.Query1, {"Update T03_CONF   ", "Set   ", "T03_UltimoBackup = :p00 "});
    dm.Query1.Param(0).AsDate(Today());
    dm.Query1.ExecSQL();
    dm.Database1.Commit();
  } catch (const std::exception& e) {
    dm.Database1.Rollback();
    throw Error(std::string("AtualizaDataBackup --> \r") + e.what());
  }
}

std::span<const QueryOption> ConfigQueryOptions() {
  static constexpr std::array<QueryOption, 1> kOptions = {{{"ConsultaConfig", ConsultaConfig}}};
  return kOptions;
}

std::span<const SaveOption> ConfigSaveOptions() {
  static constexpr std::array<SaveOption, 1> kOptions = {{{"GravaConfig", GravaConfig}}};
  return kOptions;
}

void RegisterConfigHandlers(service::HandlerRegistry::Builder& registry) {
  constexpr std::string_view kGroup = "DWServerEventsT03_CONF";
  registry.Add(kGroup, "Consulta", [](TDM& dm, TDWParams& params, std::string&) {
    params.Item("Tabela").SetAsString(Consulta(dm, "ConsultaConfig", "", false, "", ""));
  });
  registry.Add(kGroup, "Grava", SaveEventHandler("GravaConfig"));
}

}  // namespace quelvar::inventory
