#include "panel/panel_door.h"

#include <map>
#include <optional>
#include <utility>

#include "panel/csrf_check.h"
#include "panel/embedded_assets.h"
#include "panel/json_writer.h"
#include "panel/panel_texts.h"
#include "panel/password_hash.h"
#include "panel/request_parts.h"

namespace quelvar::panel {
namespace {

using service::HttpReply;
using service::HttpRequest;

constexpr int kMaxVerifying = 2;
constexpr int kMaxDownloading = 2;

// Headers every answer of the panel carries: nothing is framed by another
// site, nothing runs but the panel's own scripts.
void Harden(HttpReply& reply) {
  reply.extraHeaders.emplace_back("Content-Security-Policy",
                                  "default-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'; "
                                  "frame-ancestors 'none'; form-action 'self'");
  reply.extraHeaders.emplace_back("X-Frame-Options", "DENY");
  reply.extraHeaders.emplace_back("X-Content-Type-Options", "nosniff");
  reply.extraHeaders.emplace_back("Referrer-Policy", "no-referrer");
  reply.extraHeaders.emplace_back("Cache-Control", "no-store");
}

void Json(HttpReply& reply, int status, std::string body) {
  reply.status = status;
  reply.contentType = "application/json";
  reply.charset = "utf-8";
  reply.body = std::move(body);
}

void Message(HttpReply& reply, int status, std::string_view text, std::string_view key = "erro") {
  JsonWriter json;
  json.BeginObject().Key(key).String(text).EndObject();
  Json(reply, status, json.Text());
}

void Serve(HttpReply& reply, std::string_view name) {
  const auto asset = FindAsset(name);
  if (!asset) {
    Message(reply, 404, kNotFound);
    return;
  }
  reply.status = 200;
  reply.contentType = std::string(asset->contentType);
  reply.charset = "utf-8";
  reply.body = std::string(asset->bytes);
}

std::string CookieHeader(std::string_view value, bool overTls, std::optional<std::chrono::seconds> maxAge) {
  std::string cookie = std::string(kSessionCookie) + "=" + std::string(value) +
                       "; Path=/painel/; HttpOnly; SameSite=Strict";
  if (maxAge) cookie += "; Max-Age=" + std::to_string(maxAge->count());
  if (overTls) cookie += "; Secure";
  return cookie;
}

// Counts one slow piece of work for as long as it runs, when fewer than `limit` run.
class Slot {
 public:
  Slot(std::atomic<int>& count, int limit) : count_(count), taken_(count.fetch_add(1) < limit) {}
  ~Slot() { count_.fetch_sub(1); }
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;
  bool Taken() const { return taken_; }

 private:
  std::atomic<int>& count_;
  const bool taken_;
};

}  // namespace

PanelDoor::PanelDoor(PanelSources sources, RecentLog& log, std::chrono::seconds idleTime)
    : sources_(std::move(sources)),
      log_(log),
      sessions_(kMaxSessions, idleTime),
      tools_(sources_),
      started_(std::time(nullptr)) {}

bool PanelDoor::Takes(std::string_view path) const {
  return path == "/painel" || path.rfind(kPanelRoot, 0) == 0;
}

void PanelDoor::Served(int /*status*/, std::chrono::steady_clock::duration took) { timeline_.Record(took); }

void PanelDoor::Handle(const HttpRequest& request, HttpReply& reply, const service::EntranceContext& context) {
  Harden(reply);
  const std::string_view path = request.path;
  if (path == "/painel") {
    reply.status = 302;
    reply.extraHeaders.emplace_back("Location", std::string(kPanelRoot));
    return;
  }
  const std::string_view rest = path.substr(kPanelRoot.size());
  constexpr std::string_view kApi = "api/";
  if (rest.rfind(kApi, 0) == 0) {
    Api(rest.substr(kApi.size()), request, reply, context);
    return;
  }
  if (request.requestType != service::RequestType::Get) {
    Message(reply, 405, kNotFound);
    return;
  }
  if (rest.empty() || rest == "index.html") {
    Serve(reply, sources_.credentials().passwordHash.empty() ? "sem-senha.html" : "index.html");
    return;
  }
  // The assets: plain names only, no folders.
  if (rest.find('/') != std::string_view::npos || rest == "sem-senha.html") {
    Message(reply, 404, kNotFound);
    return;
  }
  Serve(reply, rest);
}

void PanelDoor::Api(std::string_view route, const HttpRequest& request, HttpReply& reply,
                    const service::EntranceContext& context) {
  const bool post = request.requestType == service::RequestType::Post;
  const PanelCredentials credentials = sources_.credentials();
  if (credentials.passwordHash.empty()) {
    Message(reply, 403, kNoPanelPassword);
    return;
  }
  if (route == "entrar" && post) {
    Login(request, reply, context);
    return;
  }
  // What the pages ask by themselves (the live log, the state's refresh) does
  // not count as the operator's use: an open tab alone keeps no session alive.
  const bool background = route == "registro/eventos" || FormFields(request.query).count("fundo") != 0;
  const auto token = CookieValue(request, kSessionCookie);
  const auto session = token ? sessions_.Use(*token, SessionStore::Clock::now(), !background) : std::nullopt;
  if (!session) {
    Message(reply, 401, kSessionNeeded);
    return;
  }
  if (!post) {
    Read(route, *session, request, reply);
    return;
  }
  if (!CarriesFormToken(request, *session)) {
    LogAction(*session, "pedido recusado sem token do formulário: " + std::string(route));
    if (context.refused) context.refused(kFormTokenRefusal);
    Message(reply, 403, kFormTokenRefused);
    return;
  }
  if (route == "sair") {
    sessions_.Close(session->token);
    LogAction(*session, "saiu");
    reply.extraHeaders.emplace_back("Set-Cookie", CookieHeader("", context.overTls, std::chrono::seconds(0)));
    Message(reply, 200, "OK", "resposta");
    return;
  }
  Action(route, *session, request, reply);
}

void PanelDoor::Login(const HttpRequest& request, HttpReply& reply, const service::EntranceContext& context) {
  const auto fields = FormFields(request.body);
  const auto field = [&](const char* name) {
    const auto found = fields.find(name);
    return found == fields.end() ? std::string() : found->second;
  };
  const std::string user = field("usuario");
  bool accepted = false;
  {
    // The slot is given back before a refusal waits out its slowdown.
    Slot verifying(verifying_, kMaxVerifying);
    if (!verifying.Taken()) {
      Message(reply, 503, kBusy);
      return;
    }
    const PanelCredentials credentials = sources_.credentials();
    accepted = user == credentials.user && VerifyPassword(field("senha"), credentials.passwordHash);
  }
  if (!accepted) {
    log_.log(std::string(kLogPrefix) + "entrada recusada para \"" + user.substr(0, 64) + "\" (" + request.peerIp +
             ")");
    if (context.loginFailed) context.loginFailed();
    Message(reply, 401, kLoginRefused);
    return;
  }
  const Session session = sessions_.Open(user, request.peerIp);
  LogAction(session, "entrou");
  reply.extraHeaders.emplace_back("Set-Cookie", CookieHeader(session.token, context.overTls, std::nullopt));
  JsonWriter json;
  json.BeginObject().Key("usuario").String(session.user).Key("token").String(session.formToken).EndObject();
  Json(reply, 200, json.Text());
}

void PanelDoor::LogAction(const Session& session, std::string_view what) {
  log_.log(std::string(kLogPrefix) + session.user + " (" + session.address + "): " + std::string(what));
}

void PanelDoor::Read(std::string_view route, const Session& session, const HttpRequest& request, HttpReply& reply) {
  const auto query = FormFields(request.query);
  const auto field = [&](const char* name) {
    const auto found = query.find(name);
    return found == query.end() ? std::string() : found->second;
  };
  if (route == "sessao") {
    JsonWriter json;
    json.BeginObject().Key("usuario").String(session.user).Key("token").String(session.formToken).EndObject();
    Json(reply, 200, json.Text());
  } else if (route == "estado") {
    Json(reply, 200, StateJson());
  } else if (route == "registro") {
    const std::string after = field("depois");
    Json(reply, 200, LogJson(after.empty() ? 0 : std::strtoull(after.c_str(), nullptr, 10)));
  } else if (route == "registro/eventos") {
    reply.status = 200;
    reply.contentType = "text/event-stream";
    reply.charset = "utf-8";
    reply.body = LogStream(request);
  } else if (route == "backups") {
    Json(reply, 200, BackupsJson());
  } else if (route == "backups/baixar") {
    const std::string name = field("nome");
    Slot downloading(downloading_, kMaxDownloading);
    if (!downloading.Taken()) {
      Message(reply, 503, kBusy);
      return;
    }
    auto bytes = tools_.Download(name);
    if (!bytes) {
      Message(reply, 404, kBadBackupName);
      return;
    }
    LogAction(session, "baixou o backup " + name);
    reply.status = 200;
    reply.contentType = "application/octet-stream";
    reply.extraHeaders.emplace_back("Content-Disposition", "attachment; filename=\"" + name + "\"");
    reply.body = std::move(*bytes);
  } else if (route == "configuracao") {
    Json(reply, 200, SettingsJson());
  } else if (route == "conexoes") {
    Json(reply, 200, ConnectionsJson());
  } else {
    Message(reply, 404, kNotFound);
  }
}

void PanelDoor::Action(std::string_view route, const Session& session, const HttpRequest& request,
                       HttpReply& reply) {
  const auto fields = FormFields(request.body);
  const auto field = [&](const char* name) {
    const auto found = fields.find(name);
    return found == fields.end() ? std::string() : found->second;
  };
  if (route == "backups/gerar") {
    const std::string name = field("nome");
    if (!IsBackupName(name)) {
      Message(reply, 400, kBadBackupName);
      return;
    }
    LogAction(session, "Backup agora: " + name);
    Message(reply, 200, tools_.Backup(name), "resposta");
  } else if (route == "backups/restaurar") {
    const std::string name = field("nome");
    if (!IsBackupName(name)) {
      Message(reply, 400, kBadBackupName);
      return;
    }
    if (field("confirmacao") != name) {
      LogAction(session, "restauração de " + name + " não confirmada");
      Message(reply, 400, kRestoreUnconfirmed);
      return;
    }
    LogAction(session, "restaurar o backup " + name);
    Message(reply, 200, tools_.Restore(name), "resposta");
  } else if (route == "manutencao/integridade") {
    LogAction(session, "teste de integridade");
    Message(reply, 200, tools_.Check(), "resposta");
  } else if (route == "manutencao/compactar") {
    LogAction(session, "compactação do banco de dados");
    Message(reply, 200, tools_.Compact(), "resposta");
  } else if (route == "configuracao") {
    std::vector<std::pair<std::string, std::string>> values;
    for (const SettingField& setting : sources_.readSettings()) {
      const auto found = fields.find(setting.key);
      if (found != fields.end()) values.emplace_back(setting.key, found->second);
    }
    const SettingsOutcome outcome = sources_.writeSettings(values);
    LogAction(session, std::string(outcome.written ? "configuração gravada: " : "configuração recusada: ") +
                           outcome.message);
    Message(reply, outcome.written ? 200 : 400, outcome.message, outcome.written ? "resposta" : "erro");
  } else {
    Message(reply, 404, kNotFound);
  }
}

}  // namespace quelvar::panel
