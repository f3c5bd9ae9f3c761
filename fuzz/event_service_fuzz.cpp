// Fuzz target: one whole request through the event service (intake, routing,
// dispatch, reply). The input is cut at bytes 0x01 into the target (path and
// query), the header lines ("name:value", one per line), the Content-Type and
// the body; the first byte picks the method.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/standard_handlers.h"
#include "service/event_service.h"
#include "service/http_gate.h"

namespace {

class QuietConsole final : public quelvar::OperatorConsole {
 public:
  void countModule() override {}
  void log(std::string) override {}
};

std::vector<std::string_view> Pieces(std::string_view input) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (pieces.size() < 3) {
    const std::size_t cut = input.find('\x01', start);
    if (cut == std::string_view::npos) break;
    pieces.push_back(input.substr(start, cut - start));
    start = cut + 1;
  }
  pieces.push_back(input.substr(start));
  while (pieces.size() < 4) pieces.emplace_back();
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quelvar::service;
  static QuietConsole console;
  static EventService service(console, std::filesystem::temp_directory_path() / "quelvar-fuzz-empty",
                              std::make_shared<quelvar::DatabasePath>(""), BuildEventCatalogue(),
                              quelvar::host::StandardHandlers());
  if (size == 0) return 0;
  static constexpr std::string_view kMethods[] = {"GET", "POST", "PUT", "PATCH", "DELETE"};
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  // The listener's look at a raw header block, on the same bytes.
  const bool folded = HasFoldedLine(input.substr(0, HeaderBlockEnd(input).value_or(input.size())));
  if (folded && input.empty()) __builtin_trap();  // a fold needs bytes
  const auto pieces = Pieces(input);

  HttpRequest request;
  request.method = std::string(kMethods[data[0] % 5]);
  const std::string target = "/" + std::string(pieces[0]);
  request.requestLine = request.method + " " + target + " HTTP/1.1";
  request.requestText = RequestTextOf(request.requestLine);
  const auto question = target.find('?');
  request.path = target.substr(0, question);
  if (question != std::string::npos) request.query = target.substr(question + 1);
  std::size_t start = 0;
  const std::string_view lines = pieces[1];
  while (start < lines.size()) {
    std::size_t end = lines.find('\n', start);
    if (end == std::string_view::npos) end = lines.size();
    const std::string_view line = lines.substr(start, end - start);
    const std::size_t colon = line.find(':');
    request.headers.emplace_back(std::string(line.substr(0, colon)),
                                 colon == std::string_view::npos ? std::string() : std::string(line.substr(colon + 1)));
    start = end + 1;
  }
  request.contentType = std::string(pieces[2]);
  request.body = std::string(pieces[3]);
  const auto type = ClassifyMethod(request.requestText);
  if (!type) return 0;
  request.requestType = *type;

  HttpReply reply;
  service.Handle(request, reply);
  if (reply.afterWrite) reply.afterWrite();
  return 0;
}
