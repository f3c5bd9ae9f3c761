#include "service/http_gate.h"

#include <array>
#include <cstdint>
#include <ostream>  // the status header below needs it
#include <utility>

#include <boost/beast/http/status.hpp>

#include "formats/base64.h"
#include "formats/text_codec.h"

namespace quelvar::service {
namespace {

std::string WithoutLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

void AppendHeader(std::string& out, std::string_view name, std::string_view value) {
  out.append(name);
  out.append(": ");
  out.append(value);
  out.append("\r\n");
}

// Equality whose time depends on the lengths only, not on where the texts
// differ.
bool SameText(std::string_view given, std::string_view expected) {
  unsigned char difference = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i) {
    const char wanted = expected.empty() ? '\0' : expected[i % expected.size()];
    difference |= static_cast<unsigned char>(given[i] ^ wanted);
  }
  return difference == 0;
}

}  // namespace

std::string RequestTextOf(std::string_view requestLine) {
  static constexpr std::array<std::string_view, 4> kVersions = {
      " HTTP/1.0", " HTTP/1.1", " HTTP/2.0", " HTTP/2.1"};
  std::string text(requestLine);
  for (std::string_view version : kVersions) {
    for (auto at = text.find(version); at != std::string::npos; at = text.find(version, at)) {
      text.erase(at, version.size());
    }
  }
  return text;
}

std::optional<RequestType> ClassifyMethod(std::string_view requestText) {
  const std::string head = UpperAscii(requestText.substr(0, 4));
  const std::string_view three = std::string_view(head).substr(0, 3);
  if (three == "GET") return RequestType::Get;
  if (three == "PUT") return RequestType::Put;
  if (head == "POST") return RequestType::Post;
  if (head == "DELE") return RequestType::Delete;
  if (head == "PATC") return RequestType::Patch;
  return std::nullopt;
}

Credentials ParseAuthorization(std::optional<std::string_view> headerValue) {
  Credentials result;
  if (!headerValue || headerValue->empty()) return result;
  std::string_view value = *headerValue;
  const auto space = value.find(' ');
  const std::string_view scheme = value.substr(0, space);
  if (!EqualsIgnoreCase(scheme, "Basic")) {
    result.kind = Credentials::Kind::OtherScheme;
    return result;
  }
  result.kind = Credentials::Kind::Basic;
  const std::string_view encoded =
      space == std::string_view::npos ? std::string_view{} : Trim(value.substr(space + 1));
  const std::string decoded = DecodeBytes(encoded);
  const auto colon = decoded.find(':');
  result.user = decoded.substr(0, colon);
  if (colon != std::string::npos) result.password = decoded.substr(colon + 1);
  return result;
}

bool IsAuthorized(const Credentials& credentials, std::string_view user, std::string_view password) {
  const bool userMatches = SameText(credentials.user, user);
  const bool passwordMatches = SameText(credentials.password, password);
  return credentials.kind == Credentials::Kind::Basic && userMatches && passwordMatches;
}

HttpReply UnauthorizedReply() {
  HttpReply reply;
  reply.status = 401;
  reply.contentType = "text/html";
  reply.charset = "utf-8";
  reply.extraHeaders.emplace_back("WWW-Authenticate", "Basic realm=\"Provide Authentication\"");
  reply.body = "<HTML><BODY><B>401 Unauthorized</B></BODY></HTML>";
  return reply;
}

HttpReply EmptyReply() { return HttpReply{}; }

HttpReply FailureReply(int status, std::string message) {
  HttpReply reply;
  reply.status = status;
  reply.contentType = "text/html";
  reply.charset = "utf-8";
  reply.body = std::move(message);
  return reply;
}

std::string HttpDate(std::time_t when) {
  static constexpr std::array<const char*, 7> kDays = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // The calendar is computed here rather than by the C library, whose
  // conversion takes a process-wide lock on every call.
  const std::int64_t seconds = static_cast<std::int64_t>(when);
  std::int64_t days = seconds / 86400;
  std::int64_t secondOfDay = seconds % 86400;
  if (secondOfDay < 0) {
    secondOfDay += 86400;
    --days;
  }
  const std::size_t weekday = static_cast<std::size_t>(((days % 7) + 7) % 7);  // 1970-01-01 was a Thursday
  // Civil date from the day count (proleptic Gregorian calendar, eras of 400 years).
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const std::int64_t dayOfEra = shifted - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
  const std::int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

  auto two = [](std::string& out, std::int64_t v) {
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
  };
  std::string out;
  out.reserve(29);
  out.append(kDays[weekday]).append(", ");
  two(out, day);
  out.append(" ").append(kMonths[static_cast<std::size_t>(month - 1)]).append(" ");
  out.append(std::to_string(year)).append(" ");
  two(out, secondOfDay / 3600);
  out.push_back(':');
  two(out, secondOfDay / 60 % 60);
  out.push_back(':');
  two(out, secondOfDay % 60);
  out.append(" GMT");
  return out;
}

std::string_view StandardReason(int status) {
  if (status < 100 || status > 999) return "Unknown";
  namespace http = boost::beast::http;
  const auto code = http::int_to_status(static_cast<unsigned>(status));
  if (code == http::status::unknown) return "Unknown";
  const auto reason = http::obsolete_reason(code);
  return std::string_view(reason.data(), reason.size());
}

std::string ReplyHead(const HttpReply& reply, std::time_t now) {
  std::string head;
  head.reserve(256);
  head.append("HTTP/1.1 ").append(std::to_string(reply.status)).append(" ");
  if (reply.reason.empty()) {
    head.append(StandardReason(reply.status));
  } else {
    head.append(WithoutLineBreaks(reply.reason));
  }
  head.append("\r\n");
  AppendHeader(head, "Connection", "close");
  if (!reply.contentType.empty()) {
    std::string type = WithoutLineBreaks(reply.contentType);
    if (!reply.charset.empty()) type.append("; charset=").append(WithoutLineBreaks(reply.charset));
    AppendHeader(head, "Content-Type", type);
  }
  if (!reply.contentEncoding.empty()) {
    AppendHeader(head, "Content-Encoding", WithoutLineBreaks(reply.contentEncoding));
  }
  AppendHeader(head, "Content-Length", std::to_string(reply.body.size()));
  AppendHeader(head, "Date", HttpDate(now));
  AppendHeader(head, "Access-Control-Allow-Origin", "*");
  for (const auto& [name, value] : reply.extraHeaders) {
    AppendHeader(head, WithoutLineBreaks(name), WithoutLineBreaks(value));
  }
  head.append("\r\n");
  return head;
}

std::optional<std::size_t> HeaderBlockEnd(std::string_view received) {
  for (std::size_t at = received.find('\n'); at != std::string_view::npos; at = received.find('\n', at + 1)) {
    const std::string_view rest = received.substr(at + 1);
    if (rest.starts_with("\r\n")) return at + 3;
    if (rest.starts_with("\n")) return at + 2;
  }
  return std::nullopt;
}

bool HasFoldedLine(std::string_view block) {
  for (std::size_t at = block.find('\n'); at != std::string_view::npos && at + 1 < block.size();
       at = block.find('\n', at + 1)) {
    if (block[at + 1] == ' ' || block[at + 1] == '\t') return true;
  }
  return false;
}

}  // namespace quelvar::service
