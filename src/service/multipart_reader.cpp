#include "service/multipart_reader.h"

#include "formats/text_codec.h"

namespace quelvar::service {
namespace {

// One line starting at `pos`: its text without the line break, and where the
// next line starts; `complete` is false when no line feed ends it.
struct Line {
  std::string_view text;
  std::size_t next = 0;
  bool complete = false;
};

Line LineAt(std::string_view data, std::size_t pos) {
  Line line;
  const std::size_t feed = data.find('\n', pos);
  if (feed == std::string_view::npos) {
    line.text = data.substr(pos);
    line.next = data.size();
    return line;
  }
  line.text = data.substr(pos, feed - pos);
  if (!line.text.empty() && line.text.back() == '\r') line.text.remove_suffix(1);
  line.next = feed + 1;
  line.complete = true;
  return line;
}

std::string_view WithoutTrailingBlanks(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Splits "form-data; name=\"a\"; filename=\"b\"" at the semicolons outside
// quotes and reads each attribute; quoted values lose their quotes and their
// backslash escapes.
void ReadDisposition(std::string_view value, MultipartPart& part) {
  std::size_t pos = value.find(';');
  while (pos != std::string_view::npos && pos < value.size()) {
    ++pos;  // past ';'
    const std::size_t equals = value.find_first_of("=;", pos);
    if (equals == std::string_view::npos || value[equals] == ';') {
      pos = equals;
      continue;
    }
    const std::string key = LowerAscii(Trim(value.substr(pos, equals - pos)));
    std::size_t at = equals + 1;
    while (at < value.size() && (value[at] == ' ' || value[at] == '\t')) ++at;
    std::string attribute;
    if (at < value.size() && value[at] == '"') {
      ++at;
      while (at < value.size() && value[at] != '"') {
        if (value[at] == '\\' && at + 1 < value.size()) ++at;
        attribute += value[at];
        ++at;
      }
      pos = value.find(';', at);
    } else {
      const std::size_t end = value.find(';', at);
      attribute = std::string(Trim(value.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at)));
      pos = end;
    }
    if (key == "name") {
      part.name = std::move(attribute);
    } else if (key == "filename") {
      part.fileName = std::move(attribute);
    }
  }
}

void ReadHeaderLine(std::string_view line, MultipartPart& part) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  const std::string name = LowerAscii(Trim(line.substr(0, colon)));
  const std::string_view value = Trim(line.substr(colon + 1));
  if (name == "content-disposition") {
    ReadDisposition(value, part);
  } else if (name == "content-type") {
    part.contentType = std::string(value);
  }
}

// The next delimiter at or after `from` that starts a line (preceded by a line
// feed, or at `from` itself when `from` starts a line) and is followed by "--",
// a line break, a blank or the end of the data. npos when there is none.
std::size_t FindDelimiter(std::string_view data, std::string_view delimiter, std::size_t from) {
  std::size_t at = from;
  while ((at = data.find(delimiter, at)) != std::string_view::npos) {
    const bool startsLine = at == from || data[at - 1] == '\n';
    const std::size_t after = at + delimiter.size();
    const bool endsWell = after == data.size() || data[after] == '-' || data[after] == '\r' || data[after] == '\n' ||
                          data[after] == ' ' || data[after] == '\t';
    if (startsLine && endsWell) return at;
    ++at;
  }
  return std::string_view::npos;
}

}  // namespace

std::optional<std::string> MultipartBoundary(std::string_view contentType) {
  std::size_t pos = contentType.find(';');
  while (pos != std::string_view::npos) {
    ++pos;
    const std::size_t equals = contentType.find('=', pos);
    if (equals == std::string_view::npos) break;
    const std::string key = LowerAscii(Trim(contentType.substr(pos, equals - pos)));
    std::size_t at = equals + 1;
    while (at < contentType.size() && (contentType[at] == ' ' || contentType[at] == '\t')) ++at;
    std::string value;
    if (at < contentType.size() && contentType[at] == '"') {
      const std::size_t close = contentType.find('"', at + 1);
      value = std::string(contentType.substr(at + 1, close == std::string_view::npos ? std::string_view::npos
                                                                                      : close - at - 1));
      pos = close == std::string_view::npos ? close : contentType.find(';', close);
    } else {
      const std::size_t end = contentType.find(';', at);
      value = std::string(Trim(contentType.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at)));
      pos = end;
    }
    if (key == "boundary") {
      if (value.empty()) return std::nullopt;
      return value;
    }
  }
  return std::nullopt;
}

MultipartBody ReadMultipart(std::string_view body, std::string_view boundary) {
  MultipartBody result;
  if (boundary.empty()) return result;
  const std::string delimiter = "--" + std::string(boundary);
  const std::string closing = delimiter + "--";

  // The preamble: everything up to the first delimiter line.
  std::size_t pos = 0;
  bool found = false;
  while (pos < body.size()) {
    const Line line = LineAt(body, pos);
    const std::string_view text = WithoutTrailingBlanks(line.text);
    if (text == closing) return result;  // closed before any part
    pos = line.next;
    if (text == delimiter) {
      found = true;
      break;
    }
  }
  if (!found) return result;

  while (pos < body.size()) {
    MultipartPart part;
    // Header lines up to the empty line.
    bool headersClosed = false;
    while (pos < body.size()) {
      const Line line = LineAt(body, pos);
      if (!line.complete) break;
      pos = line.next;
      if (line.text.empty()) {
        headersClosed = true;
        break;
      }
      if (!part.headerText.empty()) part.headerText += "\r\n";
      part.headerText += line.text;
      ReadHeaderLine(line.text, part);
    }
    if (!headersClosed) {
      result.truncated = true;
      return result;
    }

    // The body, up to the line break before the next delimiter.
    const std::size_t bodyStart = pos;
    const std::size_t at = FindDelimiter(body, delimiter, bodyStart);
    if (at == std::string_view::npos) {
      result.truncated = true;
      result.truncatedName = part.name;
      return result;
    }
    std::size_t bodyEnd = at;
    if (bodyEnd > bodyStart && body[bodyEnd - 1] == '\n') {
      --bodyEnd;
      if (bodyEnd > bodyStart && body[bodyEnd - 1] == '\r') --bodyEnd;
    }
    part.body = body.substr(bodyStart, bodyEnd - bodyStart);
    result.parts.push_back(std::move(part));

    const std::size_t after = at + delimiter.size();
    if (body.substr(after, 2) == "--") return result;  // the closing delimiter
    pos = LineAt(body, after).next;
  }
  return result;
}

}  // namespace quelvar::service
