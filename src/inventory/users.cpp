#include "inventory/users.h"

#include <array>
#include <exception>

#include "data/local_clock.h"
#include "data/tdm.h"
#include "formats/errors.h"
#include "formats/text_codec.h"
#include "formats/wire_values.h"
#include "inventory/event_handlers.h"
#include "inventory/statement.h"

namespace quelvar::inventory {

namespace {

constexpr std::string_view kReadFailure = "Ocorreu um erro na consulta no banco de dados.\r";
constexpr std::string_view kWriteFailure = "Ocorreu um erro na gravação no banco de dados.\r";
constexpr std::string_view kWrongPassword = "Senha Atual Incorreta.";

// The user of the access-rights record set: its first row's, or 0 when it
// has no rows (the field must still be there).
std::int64_t RightsOwner(MemTable& rows) {
  rows.First();
  if (rows.RecordCount() > 0) return rows.AsInteger("NumUsuario");
  if (rows.FieldIndex("NumUsuario") < 0) throw Error("Field 'NumUsuario' not found");
  return 0;
}

}  // namespace

void ValidaUsuario(TDM& dm, std::string_view usuario, std::string_view senha, std::string& answer) {
  answer = "ERRO";
  Query& q = dm.Query1;
  SetStatement(q, {
                      "Select T01_NumUsuario",
                      "From T01_USUA",
                      "Where",
                      "T01_Usuario = :p00   and",
                      "T01_Senha   = :p01   and",
                      "T01_Exclusao is Null and",
                      "NOT T01_Desativado",
                  });
  q.Param(0).AsString(usuario);
  q.Param(1).AsString(senha);
  q.Open();
  if (q.RecordCount() > 0) answer = std::to_string(q.FieldByName("T01_NumUsuario").AsInteger());
}

// The check of the current password and the write share one immediate
// transaction, so a concurrent change cannot slip in between.
void NovaSenha(TDM& dm, std::string_view numUsuario, std::string_view senha1, std::string_view senha2,
               std::string& answer) {
  answer = "OK";
  const std::int64_t number = ParseInt64(numUsuario);
  Query& q = dm.Query1;
  try {
    dm.Database1.StartTransactionImmediate();
  } catch (const std::exception& e) {
    throw Error(std::string(kWriteFailure) + e.what());
  }
  try {
    SetStatement(q, {
                        "Select T01_NumUsuario",
                        "From T01_USUA",
                        "Where",
                        "T01_NumUsuario = :p00 and",
                        "T01_Senha      = :p01",
                    });
    q.Param(0).AsInteger(number);
    q.Param(1).AsString(senha1);
    q.Open();
    if (q.RecordCount() == 0) throw Error(std::string(kWrongPassword));
  } catch (const std::exception& e) {
    dm.Database1.Rollback();
    throw Error(e.what());
  }
  try {
    SetStatement(q, {
                        "Update T01_USUA",
                        "Set",
                        "T01_Senha      = :p00",
                        "Where",
                        "T01_NumUsuario = :p01",
                    });
    q.Param(0).AsString(senha2);
    q.Param(1).AsInteger(number);
    q.ExecSQL();
    dm.Database1.Commit();
  } catch (const std::exception& e) {
    dm.Database1.Rollback();
    throw Error(std::string(kWriteFailure) + e.what());
  }
}

MemTable& ConsultaAcessos(TDM& dm, const QueryArgs& args) {
  const std::int64_t number = ParseInt64(args.pFiltro);
  Query& q = dm.Query1;
  SetStatement(q, {"Select T02_Acao", "From T02_ACES", "Where", "T02_NumUsuario = :p00"});
  q.Param(0).AsInteger(number);
  q.Open();
  q.LoadInto(dm.MemTable1);
  return dm.MemTable1;
}

MemTable& ConsultaUsuario(TDM& dm, const QueryArgs& args) {
  Query& q = dm.Query1;
  SetStatement(q, {
                      "Select T01_NumUsuario,",
                      "T01_Usuario   ,",
                      "T01_Desativado,",
                      "T01_Senha",
                      "From T01_USUA",
                      "Where",
                      "T01_Exclusao is Null",
                  });
  if (!Trim(args.pFiltro).empty()) {
    q.Add("and T01_Usuario like :p00");
    q.Param(0).AsString("%" + args.pFiltro + "%");  // the filter as received
  }
  q.Open();
  q.LoadInto(dm.MemTable1);
  dm.MemTable1.SortOn("T01_Usuario");
  return dm.MemTable1;
}

// The name check and the write share one immediate transaction, so two saves
// of the same new name cannot both pass the check.
void GravaUsuario(TDM& dm, MemTable& header, MemTable& /*items*/, std::string& answer) {
  Query& q = dm.Query1;
  try {
    std::int64_t number = header.AsInteger("T01_NumUsuario");
    dm.Database1.StartTransactionImmediate();
    if (number > 0)
      SetStatement(q, {"Select T01_NumUsuario", "From T01_USUA", "Where", "T01_Exclusao is Null and",
                       "T01_Usuario = :p00", "and T01_NumUsuario <> :p01"});
    else
      SetStatement(q, {"Select T01_NumUsuario", "From T01_USUA", "Where", "T01_Exclusao is Null and",
                       "T01_Usuario = :p00"});
    q.Param(0).AsString(header.AsString("T01_Usuario"));
    if (number > 0) q.Param(1).AsInteger(number);
    q.Open();
    if (q.RecordCount() > 0) {
      dm.Database1.Rollback();
      q.Close();
      answer = "JaExiste";
      return;
    }
    if (number > 0) {
      SetStatement(q, {
                          "Update T01_USUA",
                          "Set",
                          "T01_Usuario    = :p00 ,",
                          "T01_Senha      = :p01 ,",
                          "T01_Desativado = :p02",
                          "Where",
                          "T01_NumUsuario = :p03",
                      });
      q.Param(0).AsString(header.AsString("T01_Usuario"));
      q.Param(1).AsString(header.AsString("T01_Senha"));
      q.Param(2).AsBoolean(header.AsBoolean("T01_Desativado"));
      q.Param(3).AsInteger(number);
      q.ExecSQL();
    } else {
      SetStatement(q, {
                          "Insert into T01_USUA",
                          "(T01_Desativado ,",
                          "T01_Usuario    ,",
                          "T01_Senha      )",
                          "Values",
                          "(:p00, :p01 , :p02 )",
                      });
      q.Param(0).AsBoolean(header.AsBoolean("T01_Desativado"));
      q.Param(1).AsString(header.AsString("T01_Usuario"));
      q.Param(2).AsString(header.AsString("T01_Senha"));
      q.ExecSQL();
      SetStatement(q, {"Select last_insert_rowid() as qUltimoNumero"});
      q.Open();
      number = q.FieldByName("qUltimoNumero").AsInteger();
    }
    dm.Database1.Commit();
    answer = std::to_string(number);
  } catch (const std::exception& e) {
    dm.Database1.Rollback();
    throw Error(e.what());
  }
}

void GravaAcessos(TDM& dm, MemTable& header, MemTable& /*items*/, std::string& answer) {
  answer = "OK";
  Query& q = dm.Query1;
  try {
    const std::int64_t owner = RightsOwner(header);
    dm.Database1.StartTransaction();
    SetStatement(q, {"Delete From T02_ACES", "Where", "T02_NumUsuario = :p00"});
    q.Param(0).AsInteger(owner);
    q.ExecSQL();
    for (header.First(); !header.Eof(); header.Next()) {
      if (!header.AsBoolean("Check")) continue;
      SetStatement(q, {"Insert into T02_ACES", "(T02_Acao       ,", "T02_NumUsuario )", "Values", "(:p00, :p01     )"});
      q.Param(0).AsString(header.AsString("Opcao"));
      q.Param(1).AsInteger(header.AsInteger("NumUsuario"));
      q.ExecSQL();
    }
    dm.Database1.Commit();
  } catch (const std::exception& e) {
    dm.Database1.Rollback();
    throw Error(e.what());
  }
}

void ExcluiUsuario(TDM& dm, std::int64_t numFunc, std::int64_t numUsuario, std::string& answer) {
  Query& q = dm.Query1;
  try {
    dm.Database1.StartTransaction();
    SetStatement(q, {
                        "Update T01_USUA",
                        "Set",
                        "T01_Exclusao    = :p00,",
                        "T01_ExcluidoPor = :p01",
                        "Where",
                        "T01_NumUsuario  = :p02",
                    });
    q.Param(0).AsDateTime(Today());
    q.Param(1).AsInteger(numUsuario);
    q.Param(2).AsInteger(numFunc);
    q.ExecSQL();
    dm.Database1.Commit();
    answer = "OK";
  } catch (const std::exception& e) {
    dm.Database1.Rollback();
    throw Error(e.what());
  }
}

std::span<const QueryOption> UserQueryOptions() {
  static constexpr std::array<QueryOption, 2> kOptions = {{
      {"ConsultaAcessos", ConsultaAcessos},
      {"ConsultaUsuario", ConsultaUsuario},
  }};
  return kOptions;
}

std::span<const SaveOption> UserSaveOptions() {
  static constexpr std::array<SaveOption, 2> kOptions = {{
      {"GravaUsuario", GravaUsuario},
      {"GravaAcessos", GravaAcessos},
  }};
  return kOptions;
}

std::span<const DeleteOption> UserDeleteOptions() {
  static constexpr std::array<DeleteOption, 1> kOptions = {{{1, ExcluiUsuario}}};
  return kOptions;
}

void RegisterUserHandlers(service::HandlerRegistry::Builder& registry) {
  constexpr std::string_view kGroup = "DWServerEventsT01_USUA";
  registry.Add(kGroup, "ValidaUsuario", [](TDM& dm, TDWParams& params, std::string&) {
    try {
      const std::string senha = params.Item("Senha").GetAsString();
      const std::string usuario = params.Item("Usuario").GetAsString();
      std::string answer;
      ValidaUsuario(dm, usuario, senha, answer);
      params.Item("Resposta").SetAsString(answer);
    } catch (const std::exception& e) {
      dm.Log(std::string("ValidaUsuario --> \r") + e.what());
      if (TJSONParam* resposta = params.GetRecName("Resposta"))
        resposta->SetAsString(std::string(kReadFailure) + e.what());
    }
  });
  registry.Add(kGroup, "NovaSenha", [](TDM& dm, TDWParams& params, std::string&) {
    try {
      const std::string senha2 = params.Item("Senha2").GetAsString();
      const std::string senha1 = params.Item("Senha1").GetAsString();
      const std::string numUsuario = params.Item("NumUsuario").GetAsString();
      std::string answer;
      NovaSenha(dm, numUsuario, senha1, senha2, answer);
      params.Item("Resposta").SetAsString(answer);
    } catch (const std::exception& e) {
      dm.Log(std::string("GravaNovaSenha --> ") + e.what());
      if (TJSONParam* resposta = params.GetRecName("Resposta")) resposta->SetAsString(e.what());
    }
  });
  registry.Add(kGroup, "ConsultaAcessos", [](TDM& dm, TDWParams& params, std::string&) {
    const std::string numUsuario = params.Item("NumUsuario").GetAsString();
    params.Item("Tabela").SetAsString(Consulta(dm, "ConsultaAcessos", numUsuario, false, "", ""));
  });
  registry.Add(kGroup, "Consulta", [](TDM& dm, TDWParams& params, std::string&) {
    const std::string filtro = params.Item("Filtro").GetAsString();
    params.Item("Tabela").SetAsString(Consulta(dm, "ConsultaUsuario", filtro, false, "", ""));
  });
  registry.Add(kGroup, "Grava", SaveEventHandler("GravaUsuario"));
  registry.Add(kGroup, "GravaAcessos", SaveEventHandler("GravaAcessos"));
}

}  // namespace quelvar::inventory
