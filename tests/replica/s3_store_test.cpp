// What the S3 store reads and writes without a server: key encoding, the
// listing's XML, the key file's rules, and the replica settings it refuses.

#include "replica/s3_store.h"

#include <fstream>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace quelvar::replica {
namespace {

TEST(S3Store, KeysAreEncodedAsTheSignatureExpects) {
  EXPECT_EQ(S3Encode("generations/2026-x/0001", true), "generations/2026-x/0001");
  EXPECT_EQ(S3Encode("a/b", false), "a%2Fb");
  EXPECT_EQ(S3Encode("loja central+1~_.", true), "loja%20central%2B1~_.");
  EXPECT_EQ(S3Encode("é", true), "%C3%A9");
}

TEST(S3Store, AListingGivesItsKeysAndWhereToGoOn) {
  const S3Listing page = ParseS3Listing(
      "<?xml version=\"1.0\"?><ListBucketResult><IsTruncated>true</IsTruncated>"
      "<Contents><Key>p/a&amp;b</Key><Size>1</Size></Contents><Contents><Key>p/c</Key></Contents>"
      "<NextContinuationToken>tok&lt;1</NextContinuationToken></ListBucketResult>");
  EXPECT_EQ(page.keys, (std::vector<std::string>{"p/a&b", "p/c"}));
  EXPECT_EQ(page.nextToken, "tok<1");
  const S3Listing last = ParseS3Listing(
      "<ListBucketResult><IsTruncated>false</IsTruncated><NextContinuationToken>x</NextContinuationToken>"
      "</ListBucketResult>");
  EXPECT_TRUE(last.keys.empty());
  EXPECT_EQ(last.nextToken, "");
  EXPECT_TRUE(ParseS3Listing("<Contents><Key>cut").keys.empty());
}

TEST(S3Store, TheKeyFileMustBeTheOwnersAlone) {
  testing::TempDir dir;
  const std::filesystem::path file = dir.path() / "keys";
  {
    std::ofstream out(file);
    out << "AKID\r\nsecret value\n";
  }
  using std::filesystem::perms;
  std::filesystem::permissions(file, perms::owner_read | perms::owner_write);
  const S3Access access = ReadS3Keys(file, S3Access{});
  EXPECT_EQ(access.keyId, "AKID");
  EXPECT_EQ(access.secret, "secret value");
  for (perms extra : {perms::group_read, perms::others_read}) {
    std::filesystem::permissions(file, perms::owner_read | perms::owner_write | extra);
    EXPECT_THROW(ReadS3Keys(file, S3Access{}), StoreError);
  }
  std::filesystem::permissions(file, perms::owner_read | perms::owner_write);
  {
    std::ofstream out(file);
    out << "only one line\n";
  }
  EXPECT_THROW(ReadS3Keys(file, S3Access{}), StoreError);
  EXPECT_THROW(ReadS3Keys(dir.path() / "missing", S3Access{}), StoreError);
}

TEST(S3Store, ATargetThatCannotBeUsedIsRefused) {
  S3Access access;
  access.endpoint = "http://127.0.0.1:9";
  access.keyId = "a";
  access.secret = "b";
  EXPECT_NO_THROW(OpenStore("s3://bucket/prefix/", access));
  EXPECT_THROW(OpenStore("s3://", access), StoreError);
  S3Access noKeys = access;
  noKeys.secret.clear();
  EXPECT_THROW(OpenStore("s3://bucket", noKeys), StoreError);
  S3Access ftp = access;
  ftp.endpoint = "ftp://127.0.0.1";
  EXPECT_THROW(OpenStore("s3://bucket", ftp), StoreError);
  EXPECT_THROW(OpenStore("", access), StoreError);
}

}  // namespace
}  // namespace quelvar::replica
