#pragma once
// The objects a replica holds, and their names.
//
//   generations/<generation>/snapshot          the database as the generation starts
//   generations/<generation>/<16 hex digits>   the log segments, numbered from 1
//
// A generation's name starts with its UTC start time to the millisecond
// (YYYYMMDDThhmmssmmm), so names sort in time order. Every object is written once and never rewritten.
// Each is an envelope: "QVR1", then the body as one zstd frame (level 1) that
// states its size and carries a checksum of its content; an object that is
// cut short or damaged fails the frame's size or checksum and is treated as
// absent.
//
// A snapshot body: "QVSNAP01", the log position its database stands at (the
// log header, the frame count, the chain's checksum; an all-zero header when
// no log existed), the time it was taken (ms since the epoch), then the
// database file.
//
// A segment body: "QVSEG001", its number, the log's number within the
// generation (0 for the log of the snapshot, one more after each restart of the
// log), the log header, the first frame's number, the frame count, the chain's
// checksum before the first frame, the commits (frame index within the segment
// and the time the replicator saw it, ms since the epoch), then the frames.
// Integers are big-endian.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "replica/wal_format.h"

namespace quelvar::replica {

// Packs `body` into an envelope.
std::vector<std::uint8_t> SealObject(std::span<const std::uint8_t> body);
// The body of an envelope; nullopt when it is not whole and sound.
std::optional<std::vector<std::uint8_t>> OpenObject(std::span<const std::uint8_t> object);

struct SnapshotInfo {
  std::optional<WalHeader> header;  // the log the database stands in; none: no log
  std::uint32_t frame = 0;
  WalChecksum checksum;
  std::int64_t takenMs = 0;
};
std::vector<std::uint8_t> SnapshotBody(const SnapshotInfo &info, std::span<const std::uint8_t> database);
// The snapshot's facts and its database bytes; nullopt when malformed.
std::optional<std::pair<SnapshotInfo, std::vector<std::uint8_t>>> ReadSnapshotBody(std::vector<std::uint8_t> body);

struct SegmentCommit {
  std::uint32_t index = 0;  // of its frame within the segment, from 0
  std::int64_t seenMs = 0;
};
struct Segment {
  std::uint64_t number = 0;
  std::uint32_t logNumber = 0;
  WalHeader header;
  std::uint32_t firstFrame = 0;
  WalChecksum before;
  std::vector<SegmentCommit> commits;
  std::vector<std::uint8_t> frames;
};
std::vector<std::uint8_t> SegmentBody(const Segment &segment);
// SealObject(SegmentBody(segment)) without the copy of the frames.
std::vector<std::uint8_t> SealSegment(const Segment &segment);
std::optional<Segment> ReadSegmentBody(std::span<const std::uint8_t> body);

// Names.
inline constexpr std::string_view kGenerationsFolder = "generations/";
inline constexpr std::string_view kSnapshotName = "snapshot";
// A new generation name for a start at `unixMs` (ms since the epoch):
// "20261210T170000123-1a2b3c4d".
std::string NewGenerationName(std::int64_t unixMs);
// The start time a generation name carries (ms since the epoch), or nullopt.
std::optional<std::int64_t> GenerationStart(std::string_view name);
std::string SnapshotKey(std::string_view generation);
std::string SegmentKey(std::string_view generation, std::uint64_t number);
// The segment number of a key's last part ("000000000000002a" -> 42), or
// nullopt for anything else.
std::optional<std::uint64_t> SegmentNumber(std::string_view lastPart);

// The generation a key belongs to ("generations/<name>/...", a name that
// carries its start time), and the key's last part; nullopt for any other key.
std::optional<std::pair<std::string, std::string>> GenerationPartOf(std::string_view key);

// What a listing of a replica's keys holds, by generation name (so in time
// order): whether the snapshot is there, and the segments' numbers. Keys
// that are no generation's object are left out.
struct GenerationKeys {
  bool snapshot = false;
  std::set<std::uint64_t> segments;
};
std::map<std::string, GenerationKeys> GenerationsIn(const std::vector<std::string> &keys);

}  // namespace quelvar::replica
