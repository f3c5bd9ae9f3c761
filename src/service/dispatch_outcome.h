#pragma once
// What the dispatch of one request hands to the reply writer.

#include <string>
#include <string_view>

#include "formats/param_types.h"
#include "service/http_exchange.h"

namespace quelvar::service {

// Fixed result texts of the service (exact, spacing included).
inline constexpr std::string_view kResultOk = "{\"MESSAGE\":\"OK\",  \"RESULT\":\"OK\"}";
inline constexpr std::string_view kResultNok = "{\"MESSAGE\":\"NOK\", \"RESULT\":\"NOK\"}";
inline constexpr std::string_view kResultInvalidPooler = "{\"MESSAGE\":\"NOK\", \"RESULT\":\"Invalid Pooler Name...\"}";
inline constexpr std::string_view kAsyncAcknowledgement = "{\"status\":\"OK\", \"assyncmsg\":\"AssyncCommand Executed\"}";
inline constexpr std::string_view kEventNotFound = "Event not found...";

struct DispatchOutcome {
  enum class Kind {
    StatusPage,  // the request named neither group nor event
    File,        // a file of the program folder answers; `file` is the whole reply
    Reply,       // an event, a reserved command or a failure: the reply is written from the fields below
  };
  Kind kind = Kind::Reply;
  std::string result;                     // the result text
  int status = 200;
  TJsonMode mode = TJsonMode::jmEnvelope; // jmPureJSON: the result text alone
  bool noEventNamed = false;              // the request named a group only: empty body
  HttpReply file;
};

}  // namespace quelvar::service
