#include "panel/session_store.h"

#include <algorithm>
#include <utility>

#include "panel/random_token.h"

namespace quelvar::panel {

void SessionStore::ForgetExpired(Clock::time_point now) {
  std::erase_if(entries_, [&](const auto& item) { return now - item.second.lastUse >= idle_; });
}

Session SessionStore::Open(std::string user, std::string address, Clock::time_point now) {
  Session session{RandomToken(), RandomToken(), std::move(user), std::move(address)};
  std::lock_guard guard(lock_);
  ForgetExpired(now);
  while (!entries_.empty() && entries_.size() >= maxSessions_) {
    const auto oldest = std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
      return a.second.lastUse < b.second.lastUse;
    });
    entries_.erase(oldest);
  }
  if (maxSessions_ > 0) entries_.emplace(session.token, Entry{session, now});
  return session;
}

std::optional<Session> SessionStore::Use(std::string_view token, Clock::time_point now, bool refresh) {
  std::lock_guard guard(lock_);
  const auto found = entries_.find(token);
  if (found == entries_.end()) return std::nullopt;
  if (now - found->second.lastUse >= idle_) {
    entries_.erase(found);
    return std::nullopt;
  }
  if (refresh) found->second.lastUse = now;
  return found->second.session;
}

void SessionStore::Close(std::string_view token) {
  std::lock_guard guard(lock_);
  const auto found = entries_.find(token);
  if (found != entries_.end()) entries_.erase(found);
}

std::size_t SessionStore::Live(Clock::time_point now) const {
  std::lock_guard guard(lock_);
  return static_cast<std::size_t>(std::count_if(
      entries_.begin(), entries_.end(), [&](const auto& item) { return now - item.second.lastUse < idle_; }));
}

}  // namespace quelvar::panel
