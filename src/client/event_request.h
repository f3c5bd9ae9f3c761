#pragma once
// One event call over HTTP, as the desktop clients make it: a multipart POST
// to /<event> whose first field "dwservereventname" names the group in a
// value-holder text and whose further fields are the parameters' JSON texts,
// with Basic credentials.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/errors.h"

namespace quelvar::client {

struct ServerAddress {
  std::string host = "127.0.0.1";
  std::uint16_t port = 7780;  // the port of a default Config1.ini
  bool tls = false;           // HTTPS: the server's certificate is verified
  std::string caFile;         // certificates trusted for it ("" = the system's)
  std::string user = "varosa";          // the Basic credentials
  std::string password = "quibet4693";
  std::string localAddress;  // the address calls leave from ("" = the system's choice)
};

// Parameter name and parameter JSON text.
using ParamField = std::pair<std::string, std::string>;

// The multipart body (fields as given, group first) for `boundary`.
std::string MultipartBody(std::string_view boundary, std::string_view group, const std::vector<ParamField>& params);

struct HttpAnswer {
  int status = 0;
  std::string reason;  // the reason phrase of the status line
  std::string body;
};

// The connection could not be made or broke off.
class TransportError : public Error {
 public:
  using Error::Error;
};

// Sends the call and gives the answer whatever its status.
HttpAnswer CallEvent(const ServerAddress& server, std::string_view group, std::string_view event,
                     const std::vector<ParamField>& params);

}  // namespace quelvar::client
