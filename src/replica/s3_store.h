#pragma once
// A replica in a bucket of S3-compatible storage, through libcurl with its
// built-in AWS Signature V4 ("aws:amz:<region>:s3"), path-style addressing
// (<endpoint>/<bucket>/<prefix>/<key>). Every request carries
// x-amz-content-sha256 (the payload's hash). https verifies certificates.

#include "replica/replica_store.h"

namespace quelvar::replica {

class S3Store final : public ReplicaStore {
 public:
  // `prefix` without leading or trailing "/" (may be empty).
  S3Store(S3Access access, std::string bucket, std::string prefix);
  void Put(const std::string &key, std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit) override;
  std::optional<std::vector<std::uint8_t>> Get(const std::string &key, std::chrono::milliseconds limit) override;
  std::vector<std::string> List(const std::string &prefix, std::chrono::milliseconds limit) override;
  void Remove(const std::string &key, std::chrono::milliseconds limit) override;

 private:
  struct Reply {
    long status = 0;
    std::string body;
  };
  Reply Request(const char *method, const std::string &pathAndQuery, std::span<const std::uint8_t> payload,
                std::chrono::milliseconds limit);
  std::string ObjectPath(const std::string &key) const;

  S3Access access_;
  std::string bucket_;
  std::string prefix_;  // "" or "a/b/"
};

// Percent-encoding as S3 signs it: unreserved characters (letters, digits,
// "-", "_", ".", "~") kept, "/" kept when `keepSlash`, the rest as %XX.
std::string S3Encode(std::string_view text, bool keepSlash);

// The keys and the continuation token of one ListObjectsV2 answer.
struct S3Listing {
  std::vector<std::string> keys;
  std::string nextToken;  // empty when the listing is complete
};
S3Listing ParseS3Listing(std::string_view xml);

}  // namespace quelvar::replica
