#include "panel/password_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace quelvar::panel {
namespace {

// A low count keeps the suite quick; the format and checks are the same.
constexpr int kFewIterations = 1000;

TEST(PasswordHash, VerifiesOnlyTheSamePassword) {
  const std::string stored = HashPassword("segredo forte", kFewIterations);
  EXPECT_TRUE(VerifyPassword("segredo forte", stored));
  EXPECT_FALSE(VerifyPassword("segredo forte ", stored));
  EXPECT_FALSE(VerifyPassword("Segredo forte", stored));
  EXPECT_FALSE(VerifyPassword("", stored));
}

TEST(PasswordHash, IsSaltedAndNamesItsScheme) {
  const std::string a = HashPassword("igual", kFewIterations);
  const std::string b = HashPassword("igual", kFewIterations);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind("pbkdf2-sha256$1000$", 0), 0u) << a;
  EXPECT_EQ(a.find("igual"), std::string::npos);
  EXPECT_TRUE(VerifyPassword("igual", b));
}

TEST(PasswordHash, TheDefaultCountIsSlow) {
  const std::string stored = HashPassword("x");
  EXPECT_EQ(stored.rfind("pbkdf2-sha256$" + std::to_string(kPasswordIterations) + "$", 0), 0u);
  EXPECT_GE(kPasswordIterations, 100'000);
}

TEST(PasswordHash, MalformedStoredValuesMatchNothing) {
  const std::string good = HashPassword("senha", kFewIterations);
  const std::string salt = good.substr(19, 32);
  const std::string key = good.substr(19 + 33);
  const std::string cases[] = {
      "",
      "senha",
      "pbkdf2-sha1$1000$" + salt + "$" + key,
      "pbkdf2-sha256$999$" + salt + "$" + key,
      "pbkdf2-sha256$99999999$" + salt + "$" + key,
      "pbkdf2-sha256$-1000$" + salt + "$" + key,
      "pbkdf2-sha256$$" + salt + "$" + key,
      "pbkdf2-sha256$1000$zz" + salt.substr(2) + "$" + key,
      "pbkdf2-sha256$1000$" + salt + "$" + key.substr(1),
      "pbkdf2-sha256$1000$" + salt + "$",
      "pbkdf2-sha256$1000$$" + key,
      "pbkdf2-sha256$1000$" + salt + "$" + key + "$",
      "pbkdf2-sha256$1000$" + salt + "$" + key + "$00",
  };
  ASSERT_TRUE(VerifyPassword("senha", good));
  for (const std::string& stored : cases) EXPECT_FALSE(VerifyPassword("senha", stored)) << stored;
}

}  // namespace
}  // namespace quelvar::panel
