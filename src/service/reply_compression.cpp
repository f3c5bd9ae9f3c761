#include "service/reply_compression.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "formats/errors.h"

namespace quelvar::service {
namespace {

// Owns one deflate stream for the life of a call.
class Deflater {
 public:
  Deflater() {
    if (deflateInit(&stream_, Z_DEFAULT_COMPRESSION) != Z_OK) throw Error("Falha ao iniciar a compressão da resposta.");
  }
  ~Deflater() { deflateEnd(&stream_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  void Reserve(std::size_t inputSize) { out_.resize(deflateBound(&stream_, static_cast<uLong>(inputSize))); }

  // Feeds `size` bytes (at most 4 GiB - 1); `finish` ends the stream.
  void Feed(const void* data, std::size_t size, bool finish) {
    stream_.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    stream_.avail_in = static_cast<uInt>(size);
    const int flush = finish ? Z_FINISH : Z_NO_FLUSH;
    for (;;) {
      if (stream_.avail_out == 0) Grow();
      const int rc = deflate(&stream_, flush);
      if (rc == Z_STREAM_ERROR) throw Error("Falha na compressão da resposta.");
      if (finish ? rc == Z_STREAM_END : stream_.avail_in == 0) return;
    }
  }

  std::string Take() {
    out_.resize(stream_.total_out);
    return std::move(out_);
  }

 private:
  void Grow() {
    const std::size_t written = stream_.total_out;
    if (written >= out_.size()) out_.resize(std::max<std::size_t>(out_.size() * 2, 64));
    stream_.next_out = reinterpret_cast<Bytef*>(out_.data() + written);
    stream_.avail_out = static_cast<uInt>(std::min<std::size_t>(out_.size() - written, std::numeric_limits<uInt>::max()));
  }

  z_stream stream_{};
  std::string out_;
};

}  // namespace

std::string CompressReplyBody(std::string_view payload) {
  if (payload.size() > std::numeric_limits<std::uint32_t>::max() - 4u) {
    throw Error("Resposta grande demais para compressão.");
  }
  const auto length = static_cast<std::uint32_t>(payload.size());
  const std::array<unsigned char, 4> prefix = {
      static_cast<unsigned char>(length & 0xFFu), static_cast<unsigned char>((length >> 8) & 0xFFu),
      static_cast<unsigned char>((length >> 16) & 0xFFu), static_cast<unsigned char>((length >> 24) & 0xFFu)};
  Deflater deflater;
  deflater.Reserve(payload.size() + prefix.size());
  deflater.Feed(prefix.data(), prefix.size(), false);
  deflater.Feed(payload.data(), payload.size(), true);
  return deflater.Take();
}

}  // namespace quelvar::service
