#include "replica/replica_store.h"

#include <sys/stat.h>

#include <fstream>

#include "replica/folder_store.h"
#include "replica/s3_store.h"

namespace quelvar::replica {

bool IsS3Target(const std::string &target) { return target.starts_with("s3://"); }

S3Access ReadS3Keys(const std::filesystem::path &file, S3Access access) {
  struct stat info{};
  if (::stat(file.c_str(), &info) != 0) throw StoreError("cannot read the S3 key file " + file.string());
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    throw StoreError("the S3 key file " + file.string() +
                     " may be read by others than its owner; allow only its owner (chmod 600)");
  }
  std::ifstream in(file);
  std::string id, secret;
  if (!in || !std::getline(in, id) || !std::getline(in, secret)) {
    throw StoreError("the S3 key file " + file.string() + " must hold two lines: the access key id and the secret");
  }
  auto trim = [](std::string &s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    s.erase(0, s.find_first_not_of(" \t"));
  };
  trim(id);
  trim(secret);
  if (id.empty() || secret.empty()) {
    throw StoreError("the S3 key file " + file.string() + " must hold two lines: the access key id and the secret");
  }
  access.keyId = id;
  access.secret = secret;
  return access;
}

std::unique_ptr<ReplicaStore> OpenStore(const std::string &target, const S3Access &s3) {
  if (!IsS3Target(target)) {
    if (target.empty()) throw StoreError("a replica names no folder");
    return std::make_unique<FolderStore>(target);
  }
  std::string rest = target.substr(5);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  const std::size_t slash = rest.find('/');
  const std::string bucket = rest.substr(0, slash);
  const std::string prefix = slash == std::string::npos ? "" : rest.substr(slash + 1);
  if (bucket.empty()) throw StoreError("the replica " + target + " names no bucket");
  if (s3.endpoint.empty()) throw StoreError("the replica " + target + " needs ReplicaS3Endpoint");
  if (!s3.endpoint.starts_with("http://") && !s3.endpoint.starts_with("https://")) {
    throw StoreError("ReplicaS3Endpoint must start with http:// or https://");
  }
  if (s3.keyId.empty() || s3.secret.empty()) throw StoreError("the replica " + target + " needs ReplicaS3Chaves");
  return std::make_unique<S3Store>(s3, bucket, prefix);
}

}  // namespace quelvar::replica
