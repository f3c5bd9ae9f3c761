// A long read beside a save, against the real server: the save is answered at
// once while the read is still running (readers do not hold up the writer),
// so no read, however long, makes a save wait out its busy timeout and fail
// with "database is locked".
//
// The read here lasts a few seconds, not the ten of the busy timeout, to keep
// the suite fast; what it shows (the save does not wait for the read at all)
// holds for any length.

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "catalogue_support.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string GroupRow(const std::string& name) {
  MemTable t;
  t.AddFieldDef({.name = "T06_NumGrupo", .type = TFieldType::ftInteger});
  t.AddFieldDef({.name = "T06_Grupo", .type = TFieldType::ftWideString, .size = 60});
  t.AddFieldDef({.name = "T06_Desativado", .type = TFieldType::ftBoolean});
  t.Open();
  t.Append();
  t.SetValue("T06_NumGrupo", Variant::Integer(0));
  t.SetValue("T06_Grupo", Variant::Text(name));
  t.SetValue("T06_Desativado", Variant::Boolean(false));
  t.Post();
  return DatasetText(t);
}

// Reads the configuration row once per step of a long recursion: the read
// holds the file for its whole length.
constexpr const char* kLongRead =
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 6000000) "
    "SELECT count(*) AS c FROM n, T03_CONF";

TEST(LongRead, ASaveBesideAReadIsAnsweredWithoutWaitingForIt) {
  ServerProcess server(ServerProcess::FreshDatabase());
  server.StartWithFreshDatabase();
  ASSERT_TRUE(server.WaitUntilAccepting()) << server.Stderr();

  std::atomic<bool> readDone{false};
  EventReply read;
  Clock::time_point readEnd;
  std::thread reader([&] {
    read = CallEvent(server.port(), "DWServerEventsFerramentas", "QueryDinamica",
                     {{"SQL", StringParam("SQL", kLongRead)}, {"Tabela", OutParam("Tabela")}},
                     std::chrono::seconds(120));
    readEnd = Clock::now();
    readDone = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the read is under way
  ASSERT_FALSE(readDone) << "the read ended before the save started: make it longer";

  const Clock::time_point saveStart = Clock::now();
  const EventReply save = CallEvent(server.port(), "DWServerEventsT06_GRUP", "Grava",
                                    {{"Tabela", StringParam("Tabela", GroupRow("cimentos"))},
                                     {"Resposta", OutParam("Resposta")}},
                                    std::chrono::seconds(30));
  const auto saveTime = Clock::now() - saveStart;
  const bool answeredDuringTheRead = !readDone;
  reader.join();

  EXPECT_EQ(save.status, 200) << save.body;
  EXPECT_GT(std::atoi(save.Text("Resposta").c_str()), 0) << save.Text("Resposta");
  EXPECT_TRUE(answeredDuringTheRead) << "the save waited "
                                     << std::chrono::duration_cast<std::chrono::milliseconds>(saveTime).count()
                                     << " ms, until the read ended";
  EXPECT_EQ(read.status, 200) << read.body;
  EXPECT_NE(read.Text("Tabela"), "") << server.Stderr();
  EXPECT_EQ(server.Stderr().find("database is locked"), std::string::npos) << server.Stderr();
  EXPECT_LT(saveStart, readEnd);
}

}  // namespace
}  // namespace quelvar::test
