// Replica objects: what is written is read back whole; a cut or damaged
// object, and names that are not the replica's, are refused.

#include "replica/replica_objects.h"

#include <gtest/gtest.h>

namespace quelvar::replica {
namespace {

std::vector<std::uint8_t> Some(std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 7 % 13);
  return out;
}

TEST(ReplicaObjects, AnEnvelopeOpensOnlyWholeAndSound) {
  const std::vector<std::uint8_t> body = Some(100000);
  const std::vector<std::uint8_t> sealed = SealObject(body);
  EXPECT_LT(sealed.size(), body.size());
  EXPECT_EQ(OpenObject(sealed), body);
  EXPECT_EQ(OpenObject(SealObject({})), std::vector<std::uint8_t>{});
  for (std::size_t cut : {std::size_t(0), std::size_t(3), sealed.size() / 2, sealed.size() - 1}) {
    EXPECT_FALSE(OpenObject(std::span(sealed).first(cut))) << "cut at " << cut;
  }
  std::vector<std::uint8_t> longer = sealed;
  longer.push_back(0);
  EXPECT_FALSE(OpenObject(longer));
  std::vector<std::uint8_t> damaged = sealed;
  damaged[damaged.size() - 6] ^= 1;
  EXPECT_FALSE(OpenObject(damaged));
  std::vector<std::uint8_t> otherMagic = sealed;
  otherMagic[0] = 'X';
  EXPECT_FALSE(OpenObject(otherMagic));
}

TEST(ReplicaObjects, SegmentsAndSnapshotsReadBackAsWritten) {
  WalHeader header;
  header.pageSize = 512;
  header.salt1 = 1;
  header.salt2 = 2;
  // A header the decoder accepts.
  WriteBigEndian32(header.bytes.data(), 0x377f0682);
  WriteBigEndian32(header.bytes.data() + 4, 3007000);
  WriteBigEndian32(header.bytes.data() + 8, 512);
  WriteBigEndian32(header.bytes.data() + 16, 1);
  WriteBigEndian32(header.bytes.data() + 20, 2);
  header.checksum = ChainChecksum({header.bytes.data(), 24}, {}, false);
  WriteBigEndian32(header.bytes.data() + 24, header.checksum.first);
  WriteBigEndian32(header.bytes.data() + 28, header.checksum.second);

  Segment s;
  s.number = 42;
  s.logNumber = 3;
  s.header = header;
  s.firstFrame = 17;
  s.before = {5, 6};
  s.commits = {{0, 1000}, {2, 2000}};
  s.frames = Some(3 * header.FrameBytes());
  const auto back = ReadSegmentBody(SegmentBody(s));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->number, 42u);
  EXPECT_EQ(back->logNumber, 3u);
  EXPECT_EQ(back->firstFrame, 17u);
  EXPECT_EQ(back->before, (WalChecksum{5, 6}));
  ASSERT_EQ(back->commits.size(), 2u);
  EXPECT_EQ(back->commits[1].index, 2u);
  EXPECT_EQ(back->commits[1].seenMs, 2000);
  EXPECT_EQ(back->frames, s.frames);
  std::vector<std::uint8_t> body = SegmentBody(s);
  // A segment sealed straight from its frames opens to the same body, with
  // or without frames.
  EXPECT_EQ(OpenObject(SealSegment(s)), body);
  Segment empty = s;
  empty.frames.clear();
  empty.commits.clear();
  EXPECT_EQ(OpenObject(SealSegment(empty)), SegmentBody(empty));
  body.pop_back();  // no longer whole frames
  EXPECT_FALSE(ReadSegmentBody(body));

  SnapshotInfo info;
  info.header = header;
  info.frame = 9;
  info.checksum = {1, 2};
  info.takenMs = 123456;
  const auto snapshot = ReadSnapshotBody(SnapshotBody(info, Some(4096)));
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(snapshot->first.frame, 9u);
  EXPECT_EQ(snapshot->first.takenMs, 123456);
  ASSERT_TRUE(snapshot->first.header);
  EXPECT_TRUE(snapshot->first.header->SameLog(header));
  EXPECT_EQ(snapshot->second, Some(4096));
  const auto noLog = ReadSnapshotBody(SnapshotBody(SnapshotInfo{}, Some(10)));
  ASSERT_TRUE(noLog);
  EXPECT_FALSE(noLog->first.header);
  EXPECT_FALSE(ReadSnapshotBody(Some(50)));
}

TEST(ReplicaObjects, NamesSortByTimeAndParseBack) {
  const std::string name = NewGenerationName(1796950000042);  // 2026-12-11 00:46:40.042 UTC
  EXPECT_EQ(name.substr(0, 19), "20261211T004640042-");
  EXPECT_EQ(GenerationStart(name), 1796950000042);
  EXPECT_LT(NewGenerationName(1796950000042), NewGenerationName(1796950000043));
  for (const char* bad : {"", "20261211T004640042", "20261211X004640042-1234abcd", "2026121aT004640042-1234abcd",
                          "20261211T004640042-1234abcz"}) {
    EXPECT_FALSE(GenerationStart(bad)) << bad;
  }
  EXPECT_EQ(SegmentKey(name, 42), "generations/" + name + "/000000000000002a");
  EXPECT_EQ(SnapshotKey(name), "generations/" + name + "/snapshot");
  EXPECT_EQ(SegmentNumber("000000000000002a"), 42u);
  for (const char* bad : {"snapshot", "2a", "000000000000002A", "00000000000000zz", "0000000000000002a"}) {
    EXPECT_FALSE(SegmentNumber(bad)) << bad;
  }
}

}  // namespace
}  // namespace quelvar::replica
