#pragma once
// The users (table T01_USUA) and their access rights (table T02_ACES): login
// check, password change, list, save, delete, and the rights' query and save;
// and the handlers of the group DWServerEventsT01_USUA.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "inventory/dispatch.h"
#include "service/handler_registry.h"

namespace quelvar::inventory {

// The number of the live, active user with this name and password, in
// decimal; "ERRO" when there is none.
void ValidaUsuario(TDM& dm, std::string_view usuario, std::string_view senha, std::string& answer);
// Replaces the password of user `numUsuario` (decimal text) when `senha1` is
// his current one; answers "OK".
void NovaSenha(TDM& dm, std::string_view numUsuario, std::string_view senha1, std::string_view senha2,
               std::string& answer);
// The allowed actions of the user numbered by the filter (decimal text).
MemTable& ConsultaAcessos(TDM& dm, const QueryArgs& args);
// The live users, deactivated ones included, searched by name.
MemTable& ConsultaUsuario(TDM& dm, const QueryArgs& args);
// Inserts (number 0 or less) or updates the current row; answers the user's
// number, or "JaExiste" when another live user has the name.
void GravaUsuario(TDM& dm, MemTable& header, MemTable& items, std::string& answer);
// Replaces the rights of the first row's user by the ticked rows; answers "OK".
void GravaAcessos(TDM& dm, MemTable& header, MemTable& items, std::string& answer);
// Marks the user as deleted; answers "OK".
void ExcluiUsuario(TDM& dm, std::int64_t numFunc, std::int64_t numUsuario, std::string& answer);

std::span<const QueryOption> UserQueryOptions();
std::span<const SaveOption> UserSaveOptions();
std::span<const DeleteOption> UserDeleteOptions();

// Every event of the group but "Exclui" (the shared delete handler).
void RegisterUserHandlers(service::HandlerRegistry::Builder& registry);

}  // namespace quelvar::inventory
