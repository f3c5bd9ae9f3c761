// The listener's bookkeeping against hostile clients: the body budget, the
// connections per address, the failed-login delays, and the comparison of
// configured credentials.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <boost/beast/http/message.hpp>

#include "service/address_slots.h"
#include "service/arriving_body.h"
#include "service/body_budget.h"
#include "service/http_gate.h"
#include "service/login_throttle.h"
#include "service/url_text.h"

namespace quelvar::service {
namespace {

using namespace std::chrono_literals;

TEST(BodyBudget, TakesOnlyWhatFitsAndGetsItBack) {
  BodyBudget budget(100);
  struct Step {
    const char* name;
    bool take;  // false: give back
    std::uint64_t bytes;
    bool taken;
    std::uint64_t total;
  };
  const std::vector<Step> steps = {
      {"first 60", true, 60, true, 60},      {"40 more fill it", true, 40, true, 100},
      {"1 more is refused", true, 1, false, 100}, {"60 given back", false, 60, true, 40},
      {"61 is refused", true, 61, false, 40},  {"60 fits again", true, 60, true, 100},
      {"huge is refused", true, ~0ull, false, 100},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    if (step.take) {
      EXPECT_EQ(budget.TryTake(step.bytes), step.taken);
    } else {
      budget.Give(step.bytes);
    }
    EXPECT_EQ(budget.Taken(), step.total);
  }
}

TEST(BodyBudget, HoldsGiveBackOnTheirEnd) {
  BodyBudget budget(1000);
  {
    BudgetHold hold(budget);
    EXPECT_TRUE(hold.TryTake(600));
    EXPECT_TRUE(hold.TryTake(300));
    EXPECT_FALSE(hold.TryTake(200));
    EXPECT_EQ(hold.Held(), 900u);
    EXPECT_EQ(budget.Taken(), 900u);
  }
  EXPECT_EQ(budget.Taken(), 0u);
}

TEST(BodyBudget, ConcurrentTakersNeverPassTheCapacity) {
  BodyBudget budget(1000);
  std::vector<std::thread> takers;
  std::atomic<int> granted{0};
  for (int t = 0; t < 8; ++t) {
    takers.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) granted += budget.TryTake(7) ? 1 : 0;
    });
  }
  for (auto& taker : takers) taker.join();
  EXPECT_EQ(granted.load(), 1000 / 7);
  EXPECT_EQ(budget.Taken(), static_cast<std::uint64_t>(1000 / 7 * 7));
}

// What a body really holds in memory is taken from the budget: the whole
// block of its text (a chunked body's text grows by doubling), never only
// the bytes in it.
TEST(BodyBudget, ABodyTakesTheMemoryItsTextHolds) {
  struct Case {
    const char* name;
    std::uint64_t capacity;
    std::size_t piece;
  };
  const std::vector<Case> cases = {{"small pieces", 1u << 20, 1000}, {"large pieces", 8u << 20, 100'000},
                                   {"one byte at a time", 4096, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BodyBudget budget(c.capacity);
    BudgetHold hold(budget);
    ArrivingBody::value_type body;
    body.pieceByPiece = &hold;
    boost::beast::http::request_header<> header;
    ArrivingBody::reader reader(header, body);
    boost::system::error_code ec;
    reader.init(boost::none, ec);
    const std::string piece(c.piece, 'b');
    std::uint64_t kept = 0;
    for (;;) {
      const std::size_t taken = reader.put(boost::asio::buffer(piece), ec);
      kept += taken;
      // (The few bytes a text keeps inside itself are no block of their own.)
      const std::size_t block = body.text.capacity() > std::string().capacity() ? body.text.capacity() : 0;
      EXPECT_GE(hold.Held(), block);
      EXPECT_LE(budget.Taken(), c.capacity);
      if (ec) break;
      ASSERT_EQ(taken, piece.size());
    }
    EXPECT_EQ(ec, kBudgetSpent);
    EXPECT_EQ(body.text.size(), kept);
    // Near the end the text grows by less than double: most of the budget is usable.
    EXPECT_GT(kept, c.capacity / 2);
  }
  // An announced length (taken whole by the caller) sizes the text once: it never moves.
  BodyBudget budget(1u << 20);
  BudgetHold hold(budget);
  ASSERT_TRUE(hold.TryTake(300'000));
  ArrivingBody::value_type body;
  boost::beast::http::request_header<> header;
  ArrivingBody::reader reader(header, body);
  boost::system::error_code ec;
  reader.init(std::uint64_t{300'000}, ec);
  const std::size_t capacity = body.text.capacity();
  EXPECT_GE(capacity, 300'000u);
  EXPECT_LE(capacity, hold.Held());
  for (int i = 0; i < 300; ++i) reader.put(boost::asio::buffer(std::string(1000, 'b')), ec);
  EXPECT_EQ(body.text.capacity(), capacity);
}

TEST(AddressSlots, EachAddressHasItsOwnCap) {
  AddressSlots slots;
  struct Step {
    const char* address;
    bool take;
    bool result;
  };
  const std::vector<Step> steps = {
      {"10.0.0.1", true, true},  {"10.0.0.1", true, true},  {"10.0.0.1", true, false},
      {"10.0.0.2", true, true},  {"10.0.0.1", false, true}, {"10.0.0.1", true, true},
      {"::1", true, true},       {"::1", true, true},       {"::1", true, false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.address);
    if (step.take) {
      EXPECT_EQ(slots.TryTake(step.address, 2), step.result);
    } else {
      slots.Give(step.address);
    }
  }
  EXPECT_EQ(slots.Held("10.0.0.1"), 2u);
  EXPECT_EQ(slots.Held("10.0.0.2"), 1u);
  slots.Give("10.0.0.2");
  slots.Give("10.0.0.2");  // one too many: harmless
  EXPECT_EQ(slots.Held("10.0.0.2"), 0u);
}

TEST(LoginThrottle, DelaysGrowPastTheFreeFailuresPerAddress) {
  LoginThrottle::Rules rules;
  rules.freeFailures = 3;
  rules.firstDelay = 100ms;
  rules.maxDelay = 700ms;
  LoginThrottle throttle(rules);
  const auto start = LoginThrottle::Clock::now();
  struct Step {
    const char* address;
    std::chrono::milliseconds at;
    std::chrono::milliseconds delay;
  };
  const std::vector<Step> steps = {
      {"a", 0ms, 0ms},      {"a", 1ms, 0ms},      {"a", 2ms, 0ms},     {"a", 3ms, 100ms},
      {"b", 4ms, 0ms},      {"a", 5ms, 200ms},    {"a", 6ms, 400ms},   {"a", 7ms, 700ms},
      {"a", 8ms, 700ms},    {"b", 9ms, 0ms},      {"b", 10ms, 0ms},    {"b", 11ms, 100ms},
      // a minute after its window opened, the address starts afresh
      {"a", 60'000ms, 0ms}, {"a", 60'001ms, 0ms}, {"a", 60'002ms, 0ms}, {"a", 60'003ms, 100ms},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.address) + " at " + std::to_string(step.at.count()) + " ms");
    EXPECT_EQ(throttle.RecordFailure(step.address, start + step.at), step.delay);
  }
}

// Failed logins reach the operator log once per address per minute: the
// first failure at once, then the count gathered since the last report.
TEST(LoginThrottle, ReportsFailuresOncePerAddressPerMinute) {
  LoginThrottle throttle;
  std::vector<std::string> reports;
  throttle.SetReport([&](const std::string& address, std::size_t failures) {
    reports.push_back(address + " " + std::to_string(failures));
  });
  const auto start = LoginThrottle::Clock::now();
  struct Step {
    const char* address;
    std::chrono::milliseconds at;
    std::vector<std::string> reportsSoFar;
  };
  const std::vector<Step> steps = {
      {"a", 0ms, {"a 1"}},
      {"a", 10ms, {"a 1"}},
      {"b", 20ms, {"a 1", "b 1"}},
      {"a", 30'000ms, {"a 1", "b 1"}},
      {"a", 59'999ms, {"a 1", "b 1"}},
      {"a", 60'000ms, {"a 1", "b 1", "a 4"}},
      {"b", 61'000ms, {"a 1", "b 1", "a 4", "b 1"}},
      {"a", 90'000ms, {"a 1", "b 1", "a 4", "b 1"}},
      {"a", 200'000ms, {"a 1", "b 1", "a 4", "b 1", "a 2"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.address) + " at " + std::to_string(step.at.count()) + " ms");
    throttle.RecordFailure(step.address, start + step.at);
    EXPECT_EQ(reports, step.reportsSoFar);
  }
}

TEST(LoginThrottle, TheTableOfAddressesStaysBounded) {
  LoginThrottle::Rules rules;
  rules.maxAddresses = 100;
  LoginThrottle throttle(rules);
  const auto start = LoginThrottle::Clock::now();
  for (int i = 0; i < 10'000; ++i) throttle.RecordFailure("10.0." + std::to_string(i), start + std::chrono::milliseconds(i));
  EXPECT_LE(throttle.Addresses(), 100u);
  EXPECT_GE(throttle.Addresses(), 50u);
}

TEST(ConfiguredCredentials, OnlyTheConfiguredPairPasses) {
  struct Case {
    std::string user;
    std::string password;
    bool authorized;
  };
  const std::vector<Case> cases = {
      {"estoque", "s3nha longa", true}, {"estoque", "s3nha long", false}, {"estoque", "s3nha longaa", false},
      {"Estoque", "s3nha longa", false}, {"", "", false},               {"varosa", "quibet4693", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user + ":" + c.password);
    Credentials credentials;
    credentials.kind = Credentials::Kind::Basic;
    credentials.user = c.user;
    credentials.password = c.password;
    EXPECT_EQ(IsAuthorized(credentials, "estoque", "s3nha longa"), c.authorized);
  }
}

TEST(AmpersandPieces, CountsLikeTheSplitAndStopsEarly) {
  const std::vector<std::string> texts = {"", "a", "a=1&b=2", "&&a&&", "a&b&c&d&e", "=&="};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(CountAmpersandPieces(text, 100), SplitAmpersand(text).size());
  }
  EXPECT_EQ(CountAmpersandPieces("a&b&c&d&e", 2), 3u);  // enough to tell that 2 is passed
}

}  // namespace
}  // namespace quelvar::service
