#include "replica/replica_objects.h"

#include <zstd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <random>
#include <stdexcept>

namespace quelvar::replica {

namespace {

constexpr std::string_view kEnvelopeMagic = "QVR1";
constexpr std::string_view kSnapshotMagic = "QVSNAP01";
constexpr std::string_view kSegmentMagic = "QVSEG001";

class Writer {
 public:
  explicit Writer(std::string_view magic) { bytes_.assign(magic.begin(), magic.end()); }
  void U32(std::uint32_t v) {
    std::uint8_t b[4];
    WriteBigEndian32(b, v);
    bytes_.insert(bytes_.end(), b, b + 4);
  }
  void U64(std::uint64_t v) {
    U32(static_cast<std::uint32_t>(v >> 32));
    U32(static_cast<std::uint32_t>(v));
  }
  void Bytes(std::span<const std::uint8_t> b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

class Reader {
 public:
  Reader(std::span<const std::uint8_t> bytes, std::string_view magic) : bytes_(bytes) {
    ok_ = bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
    at_ = magic.size();
  }
  bool ok() const { return ok_; }
  std::uint32_t U32() {
    if (!Need(4)) return 0;
    const std::uint32_t v = ReadBigEndian32(bytes_.data() + at_);
    at_ += 4;
    return v;
  }
  std::uint64_t U64() {
    const std::uint64_t high = U32();
    return high << 32 | U32();
  }
  std::span<const std::uint8_t> Bytes(std::size_t n) {
    if (!Need(n)) return {};
    auto out = bytes_.subspan(at_, n);
    at_ += n;
    return out;
  }
  std::size_t Left() const { return ok_ ? bytes_.size() - at_ : 0; }
  std::size_t At() const { return at_; }

 private:
  bool Need(std::size_t n) {
    if (!ok_ || bytes_.size() - at_ < n) ok_ = false;
    return ok_;
  }
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
  bool ok_ = false;
};

void PutPosition(Writer &w, const std::optional<WalHeader> &header, std::uint32_t frame, WalChecksum checksum) {
  WalHeaderBytes bytes{};
  if (header) bytes = header->bytes;
  w.Bytes(bytes);
  w.U32(frame);
  w.U32(checksum.first);
  w.U32(checksum.second);
}

// One envelope whose body is `parts` end to end, packed as they stand (no
// copy of the body is made). The room for the packed bytes is left
// uninitialised: zeroing room the size of the body first would cost about as
// much as packing it.
std::vector<std::uint8_t> SealParts(std::initializer_list<std::span<const std::uint8_t>> parts) {
  std::size_t total = 0;
  for (const auto part : parts) total += part.size();
  const std::size_t room = kEnvelopeMagic.size() + ZSTD_compressBound(total);
  std::unique_ptr<std::uint8_t[]> packed(new std::uint8_t[room]);
  std::memcpy(packed.get(), kEnvelopeMagic.data(), kEnvelopeMagic.size());
  std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(), &ZSTD_freeCCtx);
  if (!context) throw std::runtime_error("cannot compress a replica object");
  ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, 1);
  ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1);
  ZSTD_CCtx_setParameter(context.get(), ZSTD_c_contentSizeFlag, 1);
  ZSTD_CCtx_setPledgedSrcSize(context.get(), total);
  ZSTD_outBuffer out{packed.get() + kEnvelopeMagic.size(), room - kEnvelopeMagic.size(), 0};
  for (const auto part : parts) {
    ZSTD_inBuffer in{part.data(), part.size(), 0};
    while (in.pos < in.size) {
      if (ZSTD_isError(ZSTD_compressStream2(context.get(), &out, &in, ZSTD_e_continue))) {
        throw std::runtime_error("cannot compress a replica object");
      }
    }
  }
  ZSTD_inBuffer none{nullptr, 0, 0};
  for (;;) {
    const std::size_t left = ZSTD_compressStream2(context.get(), &out, &none, ZSTD_e_end);
    if (ZSTD_isError(left) || (left != 0 && out.pos == out.size)) {
      throw std::runtime_error("cannot compress a replica object");
    }
    if (left == 0) break;
  }
  return std::vector<std::uint8_t>(packed.get(), packed.get() + kEnvelopeMagic.size() + out.pos);
}

// A segment body up to its frames (the frames' length included).
std::vector<std::uint8_t> SegmentHead(const Segment &segment) {
  Writer w(kSegmentMagic);
  w.U64(segment.number);
  w.U32(segment.logNumber);
  PutPosition(w, segment.header, segment.firstFrame, segment.before);
  w.U32(static_cast<std::uint32_t>(segment.commits.size()));
  for (const SegmentCommit &c : segment.commits) {
    w.U32(c.index);
    w.U64(static_cast<std::uint64_t>(c.seenMs));
  }
  w.U64(segment.frames.size());
  return w.Take();
}

}  // namespace

std::vector<std::uint8_t> SealObject(std::span<const std::uint8_t> body) { return SealParts({body}); }

std::vector<std::uint8_t> SealSegment(const Segment &segment) {
  const std::vector<std::uint8_t> head = SegmentHead(segment);
  return SealParts({head, segment.frames});
}

std::optional<std::vector<std::uint8_t>> OpenObject(std::span<const std::uint8_t> object) {
  if (object.size() < kEnvelopeMagic.size() ||
      std::memcmp(object.data(), kEnvelopeMagic.data(), kEnvelopeMagic.size()) != 0) {
    return std::nullopt;
  }
  const auto frame = object.subspan(kEnvelopeMagic.size());
  // The frame must be exactly one whole zstd frame that states its size.
  if (ZSTD_findFrameCompressedSize(frame.data(), frame.size()) != frame.size()) return std::nullopt;
  const unsigned long long size = ZSTD_getFrameContentSize(frame.data(), frame.size());
  // No frame unpacks to more than 32,768 times its size (a 4-byte block
  // holds at most 128 KiB of one repeated byte): a larger claim is a lie.
  if (size == ZSTD_CONTENTSIZE_UNKNOWN || size == ZSTD_CONTENTSIZE_ERROR ||
      size > std::uint64_t(frame.size()) * 32768 || size > (std::uint64_t(1) << 40)) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> body(size);
  const std::size_t got = ZSTD_decompress(body.data(), body.size(), frame.data(), frame.size());
  if (ZSTD_isError(got) || got != size) return std::nullopt;  // a damaged frame fails its checksum
  return body;
}

std::vector<std::uint8_t> SnapshotBody(const SnapshotInfo &info, std::span<const std::uint8_t> database) {
  Writer w(kSnapshotMagic);
  PutPosition(w, info.header, info.frame, info.checksum);
  w.U64(static_cast<std::uint64_t>(info.takenMs));
  w.U64(database.size());
  w.Bytes(database);
  return w.Take();
}

std::optional<std::pair<SnapshotInfo, std::vector<std::uint8_t>>> ReadSnapshotBody(std::vector<std::uint8_t> body) {
  Reader r(body, kSnapshotMagic);
  SnapshotInfo info;
  const auto header = r.Bytes(kWalHeaderBytes);
  if (!r.ok()) return std::nullopt;
  bool none = true;
  for (std::uint8_t b : header) none = none && b == 0;
  if (!none) {
    info.header = DecodeWalHeader(header);
    if (!info.header) return std::nullopt;
  }
  info.frame = r.U32();
  info.checksum.first = r.U32();
  info.checksum.second = r.U32();
  info.takenMs = static_cast<std::int64_t>(r.U64());
  const std::uint64_t size = r.U64();
  if (!r.ok() || r.Left() != size) return std::nullopt;
  const std::size_t at = r.At();
  body.erase(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(at));
  return std::make_pair(info, std::move(body));
}

std::vector<std::uint8_t> SegmentBody(const Segment &segment) {
  std::vector<std::uint8_t> body = SegmentHead(segment);
  body.insert(body.end(), segment.frames.begin(), segment.frames.end());
  return body;
}

std::optional<Segment> ReadSegmentBody(std::span<const std::uint8_t> body) {
  Reader r(body, kSegmentMagic);
  Segment s;
  s.number = r.U64();
  s.logNumber = r.U32();
  const auto header = r.Bytes(kWalHeaderBytes);
  if (!r.ok()) return std::nullopt;
  const auto decoded = DecodeWalHeader(header);
  if (!decoded) return std::nullopt;
  s.header = *decoded;
  s.firstFrame = r.U32();
  s.before.first = r.U32();
  s.before.second = r.U32();
  const std::uint32_t commits = r.U32();
  if (!r.ok() || commits > r.Left() / 12) return std::nullopt;
  for (std::uint32_t i = 0; i < commits; ++i) {
    SegmentCommit c;
    c.index = r.U32();
    c.seenMs = static_cast<std::int64_t>(r.U64());
    s.commits.push_back(c);
  }
  const std::uint64_t size = r.U64();
  if (!r.ok() || r.Left() != size || size % s.header.FrameBytes() != 0) return std::nullopt;
  const auto frames = r.Bytes(size);
  s.frames.assign(frames.begin(), frames.end());
  return s;
}

std::string NewGenerationName(std::int64_t unixMs) {
  const std::time_t t = static_cast<std::time_t>(unixMs / 1000);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[96];
  std::random_device random;
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d%03d-%08x", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(unixMs % 1000),
                static_cast<unsigned>(random()));
  return text;
}

std::optional<std::int64_t> GenerationStart(std::string_view name) {
  if (name.size() != 27 || name[8] != 'T' || name[18] != '-') return std::nullopt;
  for (std::size_t i = 19; i < 27; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return std::nullopt;
  }
  int f[7];
  const int widths[7] = {4, 2, 2, 2, 2, 2, 3};
  const std::size_t starts[7] = {0, 4, 6, 9, 11, 13, 15};
  for (int i = 0; i < 7; ++i) {
    f[i] = 0;
    for (int k = 0; k < widths[i]; ++k) {
      const char c = name[starts[i] + k];
      if (c < '0' || c > '9') return std::nullopt;
      f[i] = f[i] * 10 + (c - '0');
    }
  }
  std::tm utc{};
  utc.tm_year = f[0] - 1900;
  utc.tm_mon = f[1] - 1;
  utc.tm_mday = f[2];
  utc.tm_hour = f[3];
  utc.tm_min = f[4];
  utc.tm_sec = f[5];
  return static_cast<std::int64_t>(timegm(&utc)) * 1000 + f[6];
}

std::string SnapshotKey(std::string_view generation) {
  return std::string(kGenerationsFolder) + std::string(generation) + "/" + std::string(kSnapshotName);
}

std::string SegmentKey(std::string_view generation, std::uint64_t number) {
  char text[32];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(number));
  return std::string(kGenerationsFolder) + std::string(generation) + "/" + text;
}

std::optional<std::uint64_t> SegmentNumber(std::string_view lastPart) {
  if (lastPart.size() != 16) return std::nullopt;
  std::uint64_t n = 0;
  for (char c : lastPart) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else return std::nullopt;
    n = n << 4 | static_cast<std::uint64_t>(d);
  }
  return n;
}

std::optional<std::pair<std::string, std::string>> GenerationPartOf(std::string_view key) {
  if (!key.starts_with(kGenerationsFolder)) return std::nullopt;
  const std::string_view rest = key.substr(kGenerationsFolder.size());
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos || !GenerationStart(rest.substr(0, slash))) return std::nullopt;
  return std::pair(std::string(rest.substr(0, slash)), std::string(rest.substr(slash + 1)));
}

std::map<std::string, GenerationKeys> GenerationsIn(const std::vector<std::string> &keys) {
  std::map<std::string, GenerationKeys> out;
  for (const std::string &key : keys) {
    const auto part = GenerationPartOf(key);
    if (!part) continue;
    const auto &[name, last] = *part;
    if (last == kSnapshotName) {
      out[name].snapshot = true;
    } else if (const auto number = SegmentNumber(last)) {
      out[name].segments.insert(*number);
    }
  }
  return out;
}

}  // namespace quelvar::replica
