#pragma once
// The operator panel's sessions: a random token (the cookie) per login, with
// its own random form token (sent back with every action, see csrf_check.h),
// the operator's name and address. A session ends at logout, or when it has
// not been used for the idle time. At most `maxSessions` live at once: a new
// login beyond that ends the session used least recently. Thread-safe.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace quelvar::panel {

struct Session {
  std::string token;      // the cookie's value
  std::string formToken;  // carried by every action
  std::string user;
  std::string address;
};

class SessionStore {
 public:
  using Clock = std::chrono::steady_clock;

  SessionStore(std::size_t maxSessions, std::chrono::seconds idle) : maxSessions_(maxSessions), idle_(idle) {}

  // A new session for `user` from `address`.
  Session Open(std::string user, std::string address, Clock::time_point now = Clock::now());
  // The live session of `token`, its idle time started again (unless
  // `refresh` is false); nothing when the token is unknown or its session has
  // expired (it is then forgotten).
  std::optional<Session> Use(std::string_view token, Clock::time_point now = Clock::now(), bool refresh = true);
  // Ends the session of `token` (nothing when there is none).
  void Close(std::string_view token);
  // Sessions alive at `now`.
  std::size_t Live(Clock::time_point now = Clock::now()) const;

  std::chrono::seconds IdleTime() const { return idle_; }

 private:
  struct Entry {
    Session session;
    Clock::time_point lastUse;
  };
  void ForgetExpired(Clock::time_point now);

  const std::size_t maxSessions_;
  const std::chrono::seconds idle_;
  mutable std::mutex lock_;
  std::map<std::string, Entry, std::less<>> entries_;
};

}  // namespace quelvar::panel
