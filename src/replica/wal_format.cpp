#include "replica/wal_format.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quelvar::replica {

namespace {

constexpr std::uint32_t kMagicLittle = 0x377f0682;
constexpr std::uint32_t kMagicBig = 0x377f0683;
constexpr std::uint32_t kFormatVersion = 3007000;

std::uint32_t Word(const std::uint8_t *p, bool bigEndian) {
  if (bigEndian) return ReadBigEndian32(p);
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
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

WalChecksum ChainChecksum(std::span<const std::uint8_t> bytes, WalChecksum start, bool bigEndianWords) {
  std::uint32_t s1 = start.first;
  std::uint32_t s2 = start.second;
  for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    s1 += Word(bytes.data() + i, bigEndianWords) + s2;
    s2 += Word(bytes.data() + i + 4, bigEndianWords) + s1;
  }
  return {s1, s2};
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

// Verifies whole frames of `bytes` after `position`, appending them to `run`;
// `position` follows the last commit taken. Returns the bytes examined up to
// the first frame that failed (or the end).
struct Verifier {
  WalPosition position;  // after the last commit taken into the run
  WalChecksum chain;     // after the last frame verified
  std::uint32_t frame = 0;
  std::vector<std::uint8_t> pending;  // verified frames after the last commit
  bool broken = false;

  explicit Verifier(const WalPosition &from) : position(from), chain(from.checksum), frame(from.frame) {}

  // One frame; false when it does not belong to the log.
  bool Take(const std::uint8_t *bytes, WalRun &run) {
    const WalHeader &h = position.header;
    if (ReadBigEndian32(bytes + 8) != h.salt1 || ReadBigEndian32(bytes + 12) != h.salt2) return Break();
    WalChecksum next = ChainChecksum({bytes, 8}, chain, h.bigEndianWords);
    next = ChainChecksum({bytes + kWalFrameHeaderBytes, h.pageSize}, next, h.bigEndianWords);
    if (next != WalChecksum{ReadBigEndian32(bytes + 16), ReadBigEndian32(bytes + 20)}) return Break();
    if (ReadBigEndian32(bytes) == 0) return Break();
    chain = next;
    ++frame;
    pending.insert(pending.end(), bytes, bytes + h.FrameBytes());
    const std::uint32_t pages = ReadBigEndian32(bytes + 4);
    if (pages != 0) {
      run.frames.insert(run.frames.end(), pending.begin(), pending.end());
      pending.clear();
      run.commits.push_back({frame, pages, chain});
      position.frame = frame;
      position.checksum = chain;
    }
    return true;
  }
  bool Break() {
    broken = true;
    return false;
  }
};

}  // namespace

WalRun VerifyFrames(std::span<const std::uint8_t> bytes, const WalPosition &from) {
  WalRun run;
  Verifier verifier(from);
  const std::size_t frameBytes = from.header.FrameBytes();
  for (std::size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
    if (!verifier.Take(bytes.data() + at, run)) break;
  }
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

WalRun ReadCommittedFrames(const std::string &path, const WalPosition &from, std::size_t limitBytes) {
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
  std::vector<std::uint8_t> chunk(frameBytes * kChunkFrames);
  Verifier verifier(from);
  std::uint64_t offset = kWalHeaderBytes + std::uint64_t(from.frame) * frameBytes;
  for (;;) {
    const std::size_t got = ReadAt(file.fd, chunk.data(), chunk.size(), offset, path);
    const std::size_t whole = got / frameBytes;
    for (std::size_t i = 0; i < whole; ++i) {
      if (!verifier.Take(chunk.data() + i * frameBytes, run)) return run;
      // Enough: stop at a transaction's end.
      if (run.frames.size() >= limitBytes && verifier.pending.empty()) return run;
    }
    if (whole < kChunkFrames) return run;
    offset += got;
  }
}

}  // namespace quelvar::replica
