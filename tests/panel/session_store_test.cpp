#include "panel/session_store.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quelvar::panel {
namespace {

using namespace std::chrono_literals;
using Clock = SessionStore::Clock;

TEST(SessionStore, ASessionCarriesItsOperatorAndTwoDistinctTokens) {
  SessionStore store(4, 60s);
  const Session session = store.Open("operador", "10.0.0.5");
  EXPECT_EQ(session.token.size(), 64u);
  EXPECT_EQ(session.formToken.size(), 64u);
  EXPECT_NE(session.token, session.formToken);
  EXPECT_EQ(session.token.find_first_not_of("0123456789abcdef"), std::string::npos);
  const auto found = store.Use(session.token);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->user, "operador");
  EXPECT_EQ(found->address, "10.0.0.5");
  EXPECT_EQ(found->formToken, session.formToken);
  EXPECT_FALSE(store.Use(session.formToken));
  EXPECT_FALSE(store.Use(""));
}

TEST(SessionStore, TokensDoNotRepeat) {
  SessionStore store(200, 60s);
  std::set<std::string> tokens;
  for (int i = 0; i < 100; ++i) tokens.insert(store.Open("u", "a").token);
  EXPECT_EQ(tokens.size(), 100u);
}

TEST(SessionStore, ExpiresAfterItsIdleTimeAndUseStartsItAgain) {
  SessionStore store(4, 60s);
  const Clock::time_point start{};
  const Session session = store.Open("u", "a", start);
  EXPECT_TRUE(store.Use(session.token, start + 59s));    // just before: alive, idle time starts again
  EXPECT_TRUE(store.Use(session.token, start + 118s));   // 59 s after the last use
  EXPECT_EQ(store.Live(start + 118s), 1u);
  EXPECT_FALSE(store.Use(session.token, start + 178s));  // 60 s idle: gone
  EXPECT_FALSE(store.Use(session.token, start + 179s));  // and forgotten
  EXPECT_EQ(store.Live(start + 179s), 0u);
}

TEST(SessionStore, ALookWithoutRefreshLeavesTheIdleTimeRunning) {
  SessionStore store(4, 60s);
  const Clock::time_point start{};
  const Session session = store.Open("u", "a", start);
  EXPECT_TRUE(store.Use(session.token, start + 30s, false));
  EXPECT_TRUE(store.Use(session.token, start + 59s, false));
  EXPECT_FALSE(store.Use(session.token, start + 60s, false));
}

TEST(SessionStore, ALoginBeyondTheBoundEndsTheLeastRecentlyUsedSession) {
  SessionStore store(3, 600s);
  const Clock::time_point start{};
  const Session a = store.Open("u", "a", start);
  const Session b = store.Open("u", "b", start + 1s);
  const Session c = store.Open("u", "c", start + 2s);
  ASSERT_TRUE(store.Use(a.token, start + 3s));  // a is now more recent than b
  const Session d = store.Open("u", "d", start + 4s);
  EXPECT_EQ(store.Live(start + 4s), 3u);
  EXPECT_FALSE(store.Use(b.token, start + 5s));
  EXPECT_TRUE(store.Use(a.token, start + 5s));
  EXPECT_TRUE(store.Use(c.token, start + 5s));
  EXPECT_TRUE(store.Use(d.token, start + 5s));
}

TEST(SessionStore, ExpiredSessionsMakeRoomBeforeLiveOnesAreEnded) {
  SessionStore store(2, 10s);
  const Clock::time_point start{};
  const Session old = store.Open("u", "a", start);
  const Session live = store.Open("u", "b", start + 8s);
  store.Open("u", "c", start + 12s);  // `old` has expired: `live` stays
  EXPECT_TRUE(store.Use(live.token, start + 13s));
  EXPECT_FALSE(store.Use(old.token, start + 13s));
}

TEST(SessionStore, LogoutEndsOnlyThatSession) {
  SessionStore store(4, 60s);
  const Session a = store.Open("u", "a");
  const Session b = store.Open("u", "b");
  store.Close(a.token);
  store.Close("unknown");
  EXPECT_FALSE(store.Use(a.token));
  EXPECT_TRUE(store.Use(b.token));
}

}  // namespace
}  // namespace quelvar::panel
