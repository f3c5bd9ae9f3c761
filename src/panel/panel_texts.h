#pragma once
// The texts the panel's server side writes: answers shown to the operator
// and the entries it adds to the operator log.

#include <string_view>

namespace quelvar::panel {

// The request counter's label, as the operator window shows it.
inline constexpr std::string_view kCounterLabel = "Qtd. de acessos ao banco de dados";

inline constexpr std::string_view kLoginRefused = "Usuário ou senha inválidos.";
inline constexpr std::string_view kNoPanelPassword =
    "A senha do painel não está definida: defina SenhaPainel no Config1.ini.";
inline constexpr std::string_view kSessionNeeded = "Sessão expirada ou inexistente: entre novamente.";
inline constexpr std::string_view kFormTokenRefused = "Pedido recusado: token do formulário ausente ou inválido.";
// The reason a form without its token is listed among the refusals.
inline constexpr std::string_view kFormTokenRefusal = "token do formulário recusado";
// What the configuration page says a change restarts.
inline constexpr std::string_view kRestartsListener = "o servidor (as conexões abertas são encerradas)";
inline constexpr std::string_view kRestartsReplication = "a replicação";
inline constexpr std::string_view kBusy = "O servidor está ocupado; tente novamente em instantes.";
inline constexpr std::string_view kNotFound = "Página não encontrada.";
inline constexpr std::string_view kBadBackupName =
    "Nome de backup inválido: use um nome de arquivo terminado em .db3, sem pastas.";
inline constexpr std::string_view kRestoreUnconfirmed =
    "Restauração não confirmada: digite o nome do arquivo de backup exatamente como aparece na lista.";
inline constexpr std::string_view kNoReplica = "Nenhuma réplica configurada.";

// The operator-log entries of the panel: kLogPrefix + who + what; a failure
// of the panel's own work starts with kFailurePrefix (logged as an error).
inline constexpr std::string_view kLogPrefix = "Painel: ";
inline constexpr std::string_view kFailurePrefix = "Painel --> ";

}  // namespace quelvar::panel
