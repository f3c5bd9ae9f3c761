#pragma once
// The operator panel's door on the listener (service/operator_entrance.h):
// everything under /painel/. It serves the pages built into the program, and
// the panel's JSON and event-stream endpoints under /painel/api/ behind its
// own login:
//
//   - the login is UsuarioPainel / SenhaPainel (password_hash.h), never the
//     desktop clients' Basic pair; a failed login takes the listener's login
//     slowdown; without SenhaPainel only the page saying how to set it is served;
//   - a session is a random token in the cookie "painel_sessao" (HttpOnly,
//     SameSite=Strict, Path=/painel/, Secure over TLS) that expires after its
//     idle time; at most kMaxSessions live at once;
//   - every action (a POST) carries the session's form token (csrf_check.h);
//   - every action is written to the operator log with the operator's name
//     and address.
// Requests of the desktop clients are counted minute by minute for the
// state page's charts.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

#include "panel/panel_sources.h"
#include "panel/panel_tools.h"
#include "panel/recent_log.h"
#include "panel/request_timeline.h"
#include "panel/session_store.h"
#include "service/operator_entrance.h"

namespace quelvar::panel {

inline constexpr std::string_view kPanelRoot = "/painel/";
inline constexpr std::string_view kSessionCookie = "painel_sessao";
inline constexpr std::size_t kMaxSessions = 16;
inline constexpr std::chrono::seconds kDefaultIdleTime{30 * 60};

class PanelDoor final : public service::OperatorEntrance {
 public:
  // `sources` and `log` must outlive the door; `log` is the console the
  // server's modules write to.
  PanelDoor(PanelSources sources, RecentLog& log, std::chrono::seconds idleTime = kDefaultIdleTime);

  bool Takes(std::string_view path) const override;
  void Handle(const service::HttpRequest& request, service::HttpReply& reply,
              const service::EntranceContext& context) override;
  void Served(int status, std::chrono::steady_clock::duration took) override;

  // Ends the waits of the live log (the server is stopping).
  void Wake() { log_.Wake(); }

 private:
  void Api(std::string_view route, const service::HttpRequest& request, service::HttpReply& reply,
           const service::EntranceContext& context);
  void Login(const service::HttpRequest& request, service::HttpReply& reply, const service::EntranceContext& context);
  void Action(std::string_view route, const Session& session, const service::HttpRequest& request,
              service::HttpReply& reply);
  void Read(std::string_view route, const Session& session, const service::HttpRequest& request,
            service::HttpReply& reply);
  void LogAction(const Session& session, std::string_view what);

  std::string StateJson() const;
  std::string BackupsJson() const;
  std::string LogJson(std::uint64_t after) const;
  std::string LogStream(const service::HttpRequest& request);
  std::string SettingsJson() const;
  std::string ConnectionsJson() const;

  const PanelSources sources_;
  RecentLog& log_;
  SessionStore sessions_;
  PanelTools tools_;
  RequestTimeline timeline_;
  const std::time_t started_;
  // Slow work bounded at once: password checks and downloads.
  std::atomic<int> verifying_{0};
  std::atomic<int> downloading_{0};
};

}  // namespace quelvar::panel
