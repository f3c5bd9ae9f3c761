#include "panel/csrf_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quelvar::panel {
namespace {

const Session kSession{"cookie-token", "0123456789abcdef0123456789abcdef", "operador", "127.0.0.1"};

TEST(FormToken, OnlyTheSessionsOwnTokenMatches) {
  struct Case {
    std::string presented;
    bool matches;
  };
  const Case cases[] = {
      {kSession.formToken, true},
      {"", false},
      {"0123456789abcdef0123456789abcdeF", false},
      {"0123456789abcdef0123456789abcde", false},
      {kSession.formToken + "0", false},
      {kSession.token, false},
  };
  for (const Case& c : cases) EXPECT_EQ(FormTokenMatches(kSession, c.presented), c.matches) << c.presented;
  EXPECT_FALSE(FormTokenMatches(Session{"t", "", "u", "a"}, ""));
}

TEST(FormToken, IsReadFromItsOneHeader) {
  struct Case {
    service::HeaderList headers;
    bool carries;
  };
  const Case cases[] = {
      {{{"X-Token-Painel", kSession.formToken}}, true},
      {{{"x-token-painel", kSession.formToken}}, true},
      {{}, false},
      {{{"Cookie", "X-Token-Painel=" + kSession.formToken}}, false},
      {{{"X-Token-Painel", "other"}}, false},
      {{{"X-Token-Painel", kSession.formToken}, {"X-Token-Painel", kSession.formToken}}, false},
  };
  for (const Case& c : cases) {
    service::HttpRequest request;
    request.headers = c.headers;
    EXPECT_EQ(CarriesFormToken(request, kSession), c.carries) << c.headers.size();
  }
}

}  // namespace
}  // namespace quelvar::panel
