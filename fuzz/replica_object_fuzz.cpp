// Fuzz target: what a replica gives back to a restore, which may be damaged
// or hostile: an object's envelope, the segment and snapshot bodies inside
// it (and the raw bytes read as bodies, past the envelope's checksum), the
// frames of a segment verified against its log header, and a bucket listing.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "replica/replica_objects.h"
#include "replica/s3_store.h"
#include "replica/wal_format.h"

namespace {

void Bodies(std::span<const std::uint8_t> body) {
  if (const auto segment = quelvar::replica::ReadSegmentBody(body)) {
    const quelvar::replica::WalPosition from{segment->header, segment->firstFrame - 1, segment->before};
    (void)quelvar::replica::VerifyFrames(segment->frames, from);
  }
  (void)quelvar::replica::ReadSnapshotBody(std::vector<std::uint8_t>(body.begin(), body.end()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  if (const auto body = quelvar::replica::OpenObject(bytes)) Bodies(*body);
  Bodies(bytes);
  (void)quelvar::replica::DecodeWalHeader(bytes);
  (void)quelvar::replica::ParseS3Listing(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
