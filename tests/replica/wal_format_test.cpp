// The log read as bytes: frames verify against the engine's own log, and a
// damaged frame, another log's salts or a limit end the run at a commit.

#include "replica/wal_format.h"

#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace quelvar::replica {
namespace {

class WalFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.File("log.db3");
    ASSERT_EQ(sqlite3_open(file_.c_str(), &db_), SQLITE_OK);
    Exec("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0; CREATE TABLE t (x TEXT)");
    for (int i = 0; i < 3; ++i) Exec("INSERT INTO t VALUES (randomblob(3000))");
  }
  void TearDown() override { sqlite3_close(db_); }
  void Exec(const char* sql) { ASSERT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql; }
  std::string Wal() const { return file_ + "-wal"; }
  std::vector<std::uint8_t> Bytes() const {
    std::ifstream in(Wal(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void Write(const std::vector<std::uint8_t>& bytes) const {
    std::ofstream out(Wal(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  testing::TempDir dir_;
  std::string file_;
  sqlite3* db_ = nullptr;
};

TEST_F(WalFormat, EveryTransactionOfTheEnginesLogVerifies) {
  const auto header = ReadWalHeader(Wal());
  ASSERT_TRUE(header);
  EXPECT_EQ(header->pageSize, 4096u);
  const WalRun run = ReadCommittedFrames(Wal(), StartOf(*header), 1u << 30);
  ASSERT_EQ(run.commits.size(), 4u);  // the table, then three rows
  const std::size_t frames = (Bytes().size() - kWalHeaderBytes) / header->FrameBytes();
  EXPECT_EQ(run.commits.back().frame, frames);
  EXPECT_EQ(run.frames.size(), frames * header->FrameBytes());
  // Without the frames, the same commits; from a commit on, the rest.
  const WalRun commitsOnly = ReadCommittedFrames(Wal(), StartOf(*header), 1u << 30, false);
  EXPECT_TRUE(commitsOnly.frames.empty());
  EXPECT_EQ(commitsOnly.commits.size(), 4u);
  const WalPosition second{*header, run.commits[1].frame, run.commits[1].checksum};
  const WalRun rest = ReadCommittedFrames(Wal(), second, 1u << 30);
  ASSERT_EQ(rest.commits.size(), 2u);
  EXPECT_EQ(rest.commits.back().checksum, run.commits.back().checksum);
  // The same bytes verified in memory give the same run.
  const WalRun again = VerifyFrames(run.frames, StartOf(*header));
  EXPECT_EQ(again.commits.size(), 4u);
  EXPECT_EQ(again.frames, run.frames);
}

TEST_F(WalFormat, ARunEndsAtTheLastCommitBeforeWhatDoesNotVerify) {
  const auto header = ReadWalHeader(Wal());
  ASSERT_TRUE(header);
  const WalRun whole = ReadCommittedFrames(Wal(), StartOf(*header), 1u << 30);
  ASSERT_EQ(whole.commits.size(), 4u);
  const std::size_t frameBytes = header->FrameBytes();
  struct Case {
    const char* what;
    std::size_t offset;  // within the frame after the second commit
  };
  for (const Case& c : {Case{"a page byte", kWalFrameHeaderBytes + 100}, Case{"the salt", 9},
                        Case{"the checksum", 17}}) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = Bytes();
    const std::size_t frame = whole.commits[1].frame;  // 0-based index of the next frame
    bytes[kWalHeaderBytes + frame * frameBytes + c.offset] ^= 0x5a;
    Write(bytes);
    const WalRun run = ReadCommittedFrames(Wal(), StartOf(*header), 1u << 30);
    EXPECT_EQ(run.commits.size(), 2u);
    EXPECT_EQ(run.frames.size(), whole.commits[1].frame * frameBytes);
    bytes[kWalHeaderBytes + frame * frameBytes + c.offset] ^= 0x5a;
    Write(bytes);
  }
  // A position in another log (other salts) reads nothing.
  WalHeader other = *header;
  other.salt2 ^= 1;
  EXPECT_TRUE(ReadCommittedFrames(Wal(), StartOf(other), 1u << 30).commits.empty());
  // A limit stops at the end of a transaction once passed.
  const WalRun limited = ReadCommittedFrames(Wal(), StartOf(*header), 1);
  ASSERT_EQ(limited.commits.size(), 1u);
  EXPECT_EQ(limited.frames.size(), whole.commits[0].frame * frameBytes);
  // A cut file ends the run at the last whole transaction.
  std::vector<std::uint8_t> cut = Bytes();
  cut.resize(kWalHeaderBytes + (whole.commits[2].frame - 1) * frameBytes + 50);
  Write(cut);
  EXPECT_EQ(ReadCommittedFrames(Wal(), StartOf(*header), 1u << 30).commits.size(), 2u);
}

TEST(WalHeaderText, OnlyAValidHeaderDecodes) {
  std::vector<std::uint8_t> bytes(kWalHeaderBytes, 0);
  WriteBigEndian32(bytes.data(), 0x377f0682);
  WriteBigEndian32(bytes.data() + 4, 3007000);
  WriteBigEndian32(bytes.data() + 8, 4096);
  WriteBigEndian32(bytes.data() + 16, 7);
  WriteBigEndian32(bytes.data() + 20, 9);
  const WalChecksum sum = ChainChecksum({bytes.data(), 24}, {}, false);
  WriteBigEndian32(bytes.data() + 24, sum.first);
  WriteBigEndian32(bytes.data() + 28, sum.second);
  const auto header = DecodeWalHeader(bytes);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->salt1, 7u);
  EXPECT_EQ(header->salt2, 9u);
  EXPECT_FALSE(header->bigEndianWords);
  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
  };
  for (const Case& c : {Case{"magic", 0, 0x377f0684}, Case{"version", 4, 3007001}, Case{"page size", 8, 1000},
                        Case{"checksum", 24, sum.first + 1}}) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bad = bytes;
    WriteBigEndian32(bad.data() + c.at, c.value);
    EXPECT_FALSE(DecodeWalHeader(bad));
  }
  EXPECT_FALSE(DecodeWalHeader(std::span(bytes).first(31)));
}

}  // namespace
}  // namespace quelvar::replica
