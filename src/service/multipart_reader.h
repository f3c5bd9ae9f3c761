#pragma once
// Reader of multipart form bodies ("multipart/form-data").
//
// Lines before the first line equal to "--" + boundary (the preamble) are
// skipped; a body without such a line has no parts. Each part is its header
// lines up to an empty line, then its body up to the line break before the
// next "--" + boundary; "--" + boundary + "--" closes the body and what
// follows (the epilogue) is ignored. Lines may end in CR LF or in LF alone.
//
// The reader only looks inside the bytes it is given and copies nothing of a
// part's body: each body is a view into the text handed to ReadMultipart.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar::service {

struct MultipartPart {
  std::string headerText;                // the header lines as received, joined by CR LF
  std::string name;                      // Content-Disposition name attribute, "" when absent
  std::optional<std::string> fileName;   // Content-Disposition filename attribute, when present
  std::string contentType;               // the part's Content-Type value, "" when absent
  std::string_view body;                 // the part's bytes, without the line break before the delimiter
};

struct MultipartBody {
  std::vector<MultipartPart> parts;  // the complete parts, in order
  // A part began but its header block or its body was not closed by a
  // delimiter before the end of the data; it is not in `parts`.
  bool truncated = false;
  std::string truncatedName;  // name attribute of that part, when its headers were complete
};

// The "boundary" parameter of a Content-Type value (any letter case, quoted or
// not), or nothing when it is absent or empty.
std::optional<std::string> MultipartBoundary(std::string_view contentType);

// Reads the parts of `body` delimited by `boundary` (without the leading "--").
MultipartBody ReadMultipart(std::string_view body, std::string_view boundary);

}  // namespace quelvar::service
