#include "service/content_types.h"

#include <utility>

#include "formats/text_codec.h"

namespace quelvar::service {

std::string ContentTypeOf(std::string_view fileName) {
  static constexpr std::pair<std::string_view, std::string_view> kBySubstring[] = {
      {".HTML", "text/html"},       {".PHP", "text/php"},      {".PNG", "image/png"},
      {".BMP", "image/bmp"},        {".ICO", "image/ico"},     {".GIF", "image/gif"},
      {".JPG", "image/jpg"},        {".JS", "application/javascript"},
      {".PDF", "application/pdf"},  {".ZIP", "application/zip"}, {".RAR", "application/rar"},
      {".CSS", "text/css"},
  };
  static constexpr std::pair<std::string_view, std::string_view> kByExtension[] = {
      {"TXT", "text/plain"},        {"INI", "text/plain"},        {"LOG", "text/plain"},
      {"CSV", "text/csv"},          {"XML", "application/xml"},   {"SVG", "image/svg+xml"},
      {"JPEG", "image/jpeg"},       {"WEBP", "image/webp"},       {"TIF", "image/tiff"},
      {"TIFF", "image/tiff"},       {"MAP", "application/json"},  {"WASM", "application/wasm"},
      {"HTM", "text/html"},         {"WOFF", "font/woff"},        {"WOFF2", "font/woff2"},
      {"TTF", "font/ttf"},          {"GZ", "application/gzip"},   {"7Z", "application/x-7z-compressed"},
  };
  const std::string upper = UpperAscii(fileName);
  for (const auto& [marker, type] : kBySubstring) {
    if (upper.find(marker) != std::string::npos) return std::string(type);
  }
  const std::size_t dot = upper.rfind('.');
  const std::size_t slash = upper.find_last_of("/\\");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    const std::string_view extension = std::string_view(upper).substr(dot + 1);
    for (const auto& [known, type] : kByExtension) {
      if (extension == known) return std::string(type);
    }
  }
  return "application/octet-stream";
}

}  // namespace quelvar::service
