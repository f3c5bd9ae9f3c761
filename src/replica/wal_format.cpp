#include "replica/wal_format.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quelvar::replica {

namespace {

constexpr std::uint32_t kMagicLittle = 0x377f0682;
constexpr std::uint32_t kMagicBig = 0x377f0683;
constexpr std::uint32_t kFormatVersion = 3007000;

// A 32-bit word in the byte order the checksum uses.
std::uint32_t Word(const std::uint8_t *p, bool bigEndian) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::little) {
    return bigEndian ? __builtin_bswap32(v) : v;
  } else {
    return bigEndian ? v : __builtin_bswap32(v);
  }
}

// Closes a descriptor on every path.
struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Reads up to `size` bytes at `offset`; fewer only at the end of the file.
std::size_t ReadAt(int fd, std::uint8_t *into, std::size_t size, std::uint64_t offset, const std::string &path) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, into + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

}  // namespace

std::uint32_t ReadBigEndian32(const std::uint8_t *bytes) {
  return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 |
         std::uint32_t(bytes[3]);
}

void WriteBigEndian32(std::uint8_t *bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

namespace {

template <bool kBigEndian>
WalChecksum Chain(const std::uint8_t *p, std::size_t size, WalChecksum start) {
  std::uint32_t s1 = start.first;
  std::uint32_t s2 = start.second;
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    s1 += Word(p + i, kBigEndian) + s2;
    s2 += Word(p + i + 4, kBigEndian) + s1;
  }
  return {s1, s2};
}

}  // namespace

WalChecksum ChainChecksum(std::span<const std::uint8_t> bytes, WalChecksum start, bool bigEndianWords) {
  return bigEndianWords ? Chain<true>(bytes.data(), bytes.size(), start)
                        : Chain<false>(bytes.data(), bytes.size(), start);
}

std::optional<WalHeader> DecodeWalHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kWalHeaderBytes) return std::nullopt;
  const std::uint32_t magic = ReadBigEndian32(bytes.data());
  if (magic != kMagicLittle && magic != kMagicBig) return std::nullopt;
  if (ReadBigEndian32(bytes.data() + 4) != kFormatVersion) return std::nullopt;
  WalHeader header;
  std::memcpy(header.bytes.data(), bytes.data(), kWalHeaderBytes);
  header.bigEndianWords = (magic & 1) != 0;
  header.pageSize = ReadBigEndian32(bytes.data() + 8);
  if (header.pageSize < 512 || header.pageSize > 65536 || (header.pageSize & (header.pageSize - 1)) != 0) {
    return std::nullopt;
  }
  header.salt1 = ReadBigEndian32(bytes.data() + 16);
  header.salt2 = ReadBigEndian32(bytes.data() + 20);
  header.checksum = {ReadBigEndian32(bytes.data() + 24), ReadBigEndian32(bytes.data() + 28)};
  if (ChainChecksum(bytes.first(24), {}, header.bigEndianWords) != header.checksum) return std::nullopt;
  return header;
}

WalPosition StartOf(const WalHeader &header) { return WalPosition{header, 0, header.checksum}; }

namespace {

// Whether the frame at `bytes` belongs to the log of `h` and follows `chain`;
// `chain` moves past it when it does.
bool FrameFollows(const std::uint8_t *bytes, const WalHeader &h, WalChecksum &chain) {
  if (ReadBigEndian32(bytes + 8) != h.salt1 || ReadBigEndian32(bytes + 12) != h.salt2) return false;
  if (ReadBigEndian32(bytes) == 0) return false;
  WalChecksum next = ChainChecksum({bytes, 8}, chain, h.bigEndianWords);
  next = ChainChecksum({bytes + kWalFrameHeaderBytes, h.pageSize}, next, h.bigEndianWords);
  if (next != WalChecksum{ReadBigEndian32(bytes + 16), ReadBigEndian32(bytes + 20)}) return false;
  chain = next;
  return true;
}

// Walks frames after a position, noting each commit.
struct FrameWalk {
  const WalHeader &header;
  WalChecksum chain;
  std::uint32_t frame;
  std::uint32_t committedFrame;

  explicit FrameWalk(const WalPosition &from)
      : header(from.header), chain(from.checksum), frame(from.frame), committedFrame(from.frame) {}

  // False when the frame does not belong to the log (the walk ends).
  bool Take(const std::uint8_t *bytes, WalRun &run) {
    if (!FrameFollows(bytes, header, chain)) return false;
    ++frame;
    if (const std::uint32_t pages = ReadBigEndian32(bytes + 4); pages != 0) {
      run.commits.push_back({frame, pages, chain});
      committedFrame = frame;
    }
    return true;
  }
};

}  // namespace

WalRun VerifyFrames(std::span<const std::uint8_t> bytes, const WalPosition &from) {
  WalRun run;
  FrameWalk walk(from);
  const std::size_t frameBytes = from.header.FrameBytes();
  for (std::size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
    if (!walk.Take(bytes.data() + at, run)) break;
  }
  const std::size_t committed = std::size_t(walk.committedFrame - from.frame) * frameBytes;
  run.frames.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(committed));
  return run;
}

std::optional<WalHeader> ReadWalHeader(const std::string &path) {
  FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  }
  std::uint8_t bytes[kWalHeaderBytes];
  if (ReadAt(file.fd, bytes, kWalHeaderBytes, 0, path) < kWalHeaderBytes) return std::nullopt;
  return DecodeWalHeader(bytes);
}

WalRun ReadCommittedFrames(const std::string &path, const WalPosition &from, std::size_t limitBytes,
                           bool keepFrames) {
  WalRun run;
  FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) {
    if (errno == ENOENT) return run;
    throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  }
  // The file must still hold the log the position belongs to.
  std::uint8_t head[kWalHeaderBytes];
  if (ReadAt(file.fd, head, kWalHeaderBytes, 0, path) < kWalHeaderBytes) return run;
  const auto header = DecodeWalHeader(head);
  if (!header || !header->SameLog(from.header)) return run;

  const std::size_t frameBytes = from.header.FrameBytes();
  constexpr std::size_t kChunkFrames = 256;
  const std::size_t chunkBytes = frameBytes * kChunkFrames;
  std::vector<std::uint8_t> scratch;
  if (keepFrames) run.frames.reserve(std::min<std::size_t>(limitBytes, std::size_t(64) << 20) + chunkBytes);
  FrameWalk walk(from);
  std::uint64_t offset = kWalHeaderBytes + std::uint64_t(from.frame) * frameBytes;
  // The frames are read straight into the run (or into a scratch chunk when
  // they are not kept), verified in place, and cut back to the last commit.
  for (bool more = true; more;) {
    std::uint8_t *into;
    if (keepFrames) {
      const std::size_t base = run.frames.size();
      run.frames.resize(base + chunkBytes);
      into = run.frames.data() + base;
    } else {
      scratch.resize(chunkBytes);
      into = scratch.data();
    }
    const std::size_t got = ReadAt(file.fd, into, chunkBytes, offset, path);
    const std::size_t whole = got / frameBytes;
    more = whole == kChunkFrames;
    for (std::size_t i = 0; i < whole; ++i) {
      const std::uint32_t before = walk.committedFrame;
      if (!walk.Take(into + i * frameBytes, run)) {
        more = false;
        break;
      }
      // Enough: stop at a transaction's end.
      if (walk.committedFrame != before && std::size_t(walk.committedFrame - from.frame) * frameBytes >= limitBytes) {
        more = false;
        break;
      }
    }
    offset += got;
  }
  if (keepFrames) run.frames.resize(std::size_t(walk.committedFrame - from.frame) * frameBytes);
  return run;
}

}  // namespace quelvar::replica
