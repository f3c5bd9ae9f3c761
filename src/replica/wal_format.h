#pragma once
// The engine's write-ahead log as bytes on disk, read by the replicator and
// replayed by the restore.
//
// The log is a 32-byte header followed by frames: a 24-byte frame header and
// one page. Header: magic (0x377f0682 or 0x377f0683, whose low bit selects
// big-endian checksum words), format version, page size, checkpoint sequence,
// two salts, and a checksum of its first 24 bytes. Frame header: page number,
// the database size in pages after the commit (non-zero only on the last frame
// of a transaction), the two salts of the log, and a checksum chained from the
// previous frame (the first frame from the header's checksum) over the frame
// header's first 8 bytes and the page. A frame belongs to the log only when its
// salts match and its checksum follows the chain: that is how the engine itself
// tells the frames of the current log from stale bytes, and how the replica
// proves that one segment continues the one before.
//
// All integers are big-endian.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quelvar::replica {

inline constexpr std::size_t kWalHeaderBytes = 32;
inline constexpr std::size_t kWalFrameHeaderBytes = 24;

using WalHeaderBytes = std::array<std::uint8_t, kWalHeaderBytes>;

struct WalChecksum {
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  bool operator==(const WalChecksum &) const = default;
};

std::uint32_t ReadBigEndian32(const std::uint8_t *bytes);
void WriteBigEndian32(std::uint8_t *bytes, std::uint32_t value);

// The chained checksum over `bytes` (a multiple of 8 bytes) from `start`.
WalChecksum ChainChecksum(std::span<const std::uint8_t> bytes, WalChecksum start, bool bigEndianWords);

// A decoded log header; nullopt when the bytes are not a valid header (magic,
// version, page size or checksum wrong).
struct WalHeader {
  WalHeaderBytes bytes{};
  std::uint32_t pageSize = 0;
  std::uint32_t salt1 = 0;
  std::uint32_t salt2 = 0;
  WalChecksum checksum;  // the chain's start for frame 1
  bool bigEndianWords = false;

  std::size_t FrameBytes() const { return kWalFrameHeaderBytes + pageSize; }
  bool SameLog(const WalHeader &other) const { return salt1 == other.salt1 && salt2 == other.salt2; }
};
std::optional<WalHeader> DecodeWalHeader(std::span<const std::uint8_t> bytes);

// Where a reader of the log stands: after `frame` frames of the log with
// `header`, the chain's checksum being `checksum`.
struct WalPosition {
  WalHeader header;
  std::uint32_t frame = 0;
  WalChecksum checksum;
};

// A commit found in the log: the frame that ends a transaction.
struct WalCommit {
  std::uint32_t frame = 0;      // its number in the log (1-based)
  std::uint32_t pages = 0;      // the database size after it, in pages
  WalChecksum checksum;         // the chain after it
};

// The frames after `from` that verify, up to the last commit among them:
// `frames` holds them whole (frame header and page), `commits` each commit.
// Frames that fail the salts or the chain end the run, as do frames after the
// last commit (a transaction still being written).
struct WalRun {
  std::vector<std::uint8_t> frames;
  std::vector<WalCommit> commits;
};
WalRun VerifyFrames(std::span<const std::uint8_t> bytes, const WalPosition &from);

// The log file `path` read from `from` onwards, at most about `limitBytes` of
// frames (more only to finish one transaction). Without `keepFrames` only the
// commits are returned (the frames are verified, not kept). Raises
// std::runtime_error when the file cannot be read; a missing file gives an
// empty run.
WalRun ReadCommittedFrames(const std::string &path, const WalPosition &from, std::size_t limitBytes,
                           bool keepFrames = true);

// The header of the log file `path`; nullopt when it is missing, shorter than
// a header, or not a valid header.
std::optional<WalHeader> ReadWalHeader(const std::string &path);

// The position a fresh log with `header` starts at (no frame yet).
WalPosition StartOf(const WalHeader &header);

}  // namespace quelvar::replica
