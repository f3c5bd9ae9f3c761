#pragma once
// Request intake: one HTTP request turned into what the dispatch needs, the
// event name, the group name, the parameter list and the request flags.
//
// Clients may put these in the request path, the headers, the query string, a
// multipart form body, a url-encoded form body or a raw body; the steps run in
// a fixed order and a later step may replace a name an earlier one set:
//   1. headers: the reserved names set their item; every other header becomes
//      an input parameter named by the header (the first such header runs
//      steps 2 and 3 before it);
//   2. the path: the last segment is the event, the one before it the group;
//   3. the query entries (and the fields of a url-encoded form body) become
//      input parameters, read as parameter texts when they are one;
//   4. by method: GET reads the reserved names from its query parameters;
//      POST and PUT read their body (multipart, url-encoded or raw); PATCH
//      and DELETE leave the body unread;
//   5. late reads of reserved names from the parameter list;
//   6. every parameter receives the cipher switch.
// A malformed parameter text fails the request with the JSON reader's error;
// so does a multipart body whose last part is not closed by a delimiter and a
// binary block whose length does not match.

#include <memory>
#include <string>

#include "formats/params.h"
#include "formats/text_codec.h"
#include "service/http_exchange.h"

namespace quelvar::service {

struct RequestFlags {
  bool compression = false;      // "datacompression": reply body compressed
  bool encodeStrings = false;    // "dwencodestrings": read, not consulted by events
  bool asynchronous = false;     // "dwassyncexec": acknowledge before the event runs
  bool binary = false;           // "binaryrequest": parameters travel as a binary block
  bool encryptedParams = false;  // "dwusecript": string values are enciphered
};

struct IntakeOutcome {
  std::string eventName;
  std::string groupName;
  std::unique_ptr<TDWParams> params;  // never null
  std::string welcomeMessage;
  std::string accessTag;
  std::string connectionDefs;
  RequestFlags flags;
};

struct IntakeSettings {
  TEncodeSelect encoding = TEncodeSelect::esASCII;  // the service's `Encoding`
  CriptOptions cipher;  // the service's key; handed to every parameter with the request's own switch
};

IntakeOutcome ReadRequestParams(const HttpRequest& request, const IntakeSettings& settings);

// The group and event names of a request path (not percent-decoded): the last
// segment is the event, the one before it the group; one trailing "/" is
// ignored; "/" gives neither.
struct PathNames {
  std::string group;
  std::string event;
};
PathNames NamesOfPath(std::string_view path);

}  // namespace quelvar::service
