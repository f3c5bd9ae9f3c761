#include "service/connection_roster.h"

#include <gtest/gtest.h>

#include <string>

namespace quelvar::service {
namespace {

TEST(ConnectionRoster, AnAddressIsListedWhileItHasOpenConnections) {
  ConnectionRoster roster;
  roster.Opened("10.0.0.1", 100);
  roster.Opened("10.0.0.2", 90);
  roster.Opened("10.0.0.1", 120);
  roster.Requested("10.0.0.1");
  roster.Requested("10.0.0.1");
  roster.Requested("10.0.0.9");  // not connected: nothing
  auto clients = roster.Clients();
  ASSERT_EQ(clients.size(), 2u);
  EXPECT_EQ(clients[0].address, "10.0.0.2");  // longest connected first
  EXPECT_EQ(clients[1].address, "10.0.0.1");
  EXPECT_EQ(clients[1].since, 100);
  EXPECT_EQ(clients[1].open, 2u);
  EXPECT_EQ(clients[1].requests, 2u);
  roster.Closed("10.0.0.1");
  EXPECT_EQ(roster.Clients().size(), 2u);
  roster.Closed("10.0.0.1");
  roster.Closed("10.0.0.7");  // unknown: nothing
  clients = roster.Clients();
  ASSERT_EQ(clients.size(), 1u);
  EXPECT_EQ(clients[0].address, "10.0.0.2");
  // Connected again: a fresh start.
  roster.Opened("10.0.0.1", 200);
  EXPECT_EQ(roster.Clients().back().requests, 0u);
  EXPECT_EQ(roster.Clients().back().since, 200);
}

TEST(ConnectionRoster, KeepsTheLastRefusalsNewestFirst) {
  ConnectionRoster roster;
  for (std::size_t i = 0; i < ConnectionRoster::kKeptRefusals + 5; ++i) {
    roster.Refused("10.0.0." + std::to_string(i), "credenciais recusadas", static_cast<std::time_t>(i));
  }
  const auto refusals = roster.Refusals();
  ASSERT_EQ(refusals.size(), ConnectionRoster::kKeptRefusals);
  EXPECT_EQ(refusals.front().when, static_cast<std::time_t>(ConnectionRoster::kKeptRefusals + 4));
  EXPECT_EQ(refusals.back().when, 5);
  EXPECT_EQ(refusals.front().reason, "credenciais recusadas");
}

}  // namespace
}  // namespace quelvar::service
