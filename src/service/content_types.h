#pragma once
// Content types chosen by file name, for files the service sends and for the
// raw bodies that carry a file name.

#include <string>
#include <string_view>

namespace quelvar::service {

// Tests the upper-cased file name for these substrings in this order: ".HTML"
// text/html, ".PHP" text/php, ".PNG" image/png, ".BMP" image/bmp, ".ICO"
// image/ico, ".GIF" image/gif, ".JPG" image/jpg, ".JS" application/javascript,
// ".PDF" application/pdf, ".ZIP" application/zip, ".RAR" application/rar,
// ".CSS" text/css (so "a.json" gives application/javascript). Any other name
// takes the usual type of its extension, "application/octet-stream" when the
// extension is unknown.
std::string ContentTypeOf(std::string_view fileName);

}  // namespace quelvar::service
