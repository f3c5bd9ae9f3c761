#pragma once
// What a server answer says: its output parameters read back from the
// envelope {"PARAMS":[...], "RESULT":[...]}, result sets decoded into record
// sets (the parameter's Base64 layer and the record set's own), and whether
// the answer is a failure.

#include <string>
#include <string_view>
#include <vector>

#include "client/event_request.h"
#include "data/mem_table.h"

namespace quelvar::client {

struct OutputValue {
  std::string name;
  std::string text;     // the parameter's value text
  bool isTable = false; // a result set, decoded into `table`
  MemTable table;
};

struct EventAnswer {
  int status = 0;
  std::vector<OutputValue> outputs;
  std::string result;        // the RESULT text, or the whole body when it is not an envelope
  bool failed = false;
  std::string failureReason; // why the answer counts as a failure
};

// The failure texts of the business procedures begin so.
inline constexpr std::string_view kFailurePrefix = "Ocorreu um erro";

// Reads an HTTP answer to a call of `event` in `group`. `sentNames` are the
// parameters the call brought: a "Tabela" output that comes back empty
// although the call did not send one (a query that failed) counts as a
// failure, whose reason the server keeps in its operator log. A status of 400
// or more is a failure: 401 "wrong user or password (HTTP 401)"; others the
// status and the reason phrase (Base64-decoded when it decodes to text), a
// 404 also naming the group and event asked for.
EventAnswer ReadEventAnswer(const HttpAnswer& http, const std::vector<std::string>& sentNames,
                            std::string_view group = {}, std::string_view event = {});

}  // namespace quelvar::client
