#pragma once
// The self-update component (`Updater1`) and the "AtualizaServidor" event.
//
// A check runs on a background worker, one at a time: a request while one is
// busy starts nothing. Without a configured public key (update_signature.h)
// it ends at once with kStatusNotConfigured and fetches nothing. Otherwise the
// worker fetches the update-information file (update_info.h) from
// QUELVAR_UPDATE_URL, or the built-in address, with libcurl (http and https
// only, certificates verified); a file whose signature does not verify
// changes nothing (kStatusUnsigned). A version not above kProgramVersion
// leaves the program as it is; a file list naming the database, its side
// files or Config1.ini is refused whole.
// A newer one is downloaded into a staging folder beside the running
// executable (never into a separate data folder), every file's size and
// SHA-256 verified, then each file is renamed into the executable's folder
// (with the permissions of the file it replaces, or the executable's for a
// new file, never beyond rwxr-xr-x) and the program restarts at once (exec of
// the executable with the same arguments; a failed exec reports the system's
// reason). A failed download or verification installs
// nothing. Each outcome replaces the status text and goes to the operator log
// as "AtualizaServidor MSG: \r" + the status text.

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "formats/params.h"
#include "data/operator_console.h"

namespace quelvar {
class TDM;
}

namespace quelvar::tools {

// The running program's version number, compared with the published one.
inline constexpr std::int64_t kProgramVersion = 27;
inline constexpr std::string_view kDefaultUpdateUrl = "http://localhost/quelvar/atualizacao.txt";

inline constexpr std::string_view kStatusFileDone = "Atualizado";
inline constexpr std::string_view kStatusHostUnreachable =
    "Ocorreu um erro na atualização.\rCausas possíveis:\rNão existe conexão com a internet ou foi desconectado.";
inline constexpr std::string_view kStatusNoUpdate = "Não existe atualização disponível no momento.";
// No public key is configured to check the update information.
inline constexpr std::string_view kStatusNotConfigured =
    "Ocorreu um erro na atualização.\rAs atualizações não estão configuradas neste servidor: falta a chave pública "
    "de verificação (ChaveAtualizacao.pem na pasta do programa, ou ChavePublicaAtualizacao em Config1.ini).";
// The update information carries no signature that the key verifies.
inline constexpr std::string_view kStatusUnsigned =
    "Ocorreu um erro na atualização.\rA informação de atualização recebida não tem uma assinatura válida.";
// A published version whose information or files do not verify.
inline constexpr std::string_view kStatusRejected =
    "Ocorreu um erro na atualização.\rOs arquivos recebidos não conferem com a atualização publicada.";

// The files were installed but the exec of the new program failed; the
// system's reason follows.
inline constexpr std::string_view kStatusRestartFailed =
    "Ocorreu um erro na atualização.\rOs arquivos foram instalados, mas o programa não pôde ser reiniciado: ";

class SelfUpdater : public std::enable_shared_from_this<SelfUpdater> {
 public:
  // `vStatusAtualizacao`, exchanged whole.
  std::string Status() const;
  void SetStatus(std::string_view status);

  // Starts a check in the background unless one is busy; returns at once.
  // Outcomes are logged on `console`, which must outlive the check. No file
  // resolving to one of `guarded` is ever installed.
  void StartCheck(OperatorConsole& console, std::filesystem::path programFolder,
                  std::vector<std::filesystem::path> guarded);

 private:
  void Check(OperatorConsole& console, const std::filesystem::path& programFolder,
             const std::vector<std::filesystem::path>& guarded);
  void Report(OperatorConsole& console, std::string_view status);

  mutable std::mutex statusLock_;
  std::string status_ = "OK";
  std::atomic<bool> busy_{false};
};

// "AtualizaServidor": status := "OK", start a check, `Resposta` := status.
// On an error "Ocorreu um erro na atualização do servidor. \r" + message
// (logged "AtualizaServidor --> \r" + message).
void AtualizaServidor(SelfUpdater& updater, TDM& dm, TDWParams& params);

}  // namespace quelvar::tools
