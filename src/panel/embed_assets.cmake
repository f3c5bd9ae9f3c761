# Writes a C++ source holding files as byte arrays, and FindAsset() over them.
#   cmake -DOUTPUT=out.cpp -DENTRIES="name|file|type,name|file|type" -P embed_assets.cmake
string(REPLACE "," ";" entries "${ENTRIES}")
set(arrays "")
set(table "")
set(index 0)
foreach(entry IN LISTS entries)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 file)
  list(GET parts 2 type)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND arrays "const char kAsset${index}[] = {${bytes} '\\0'};\n")
  string(APPEND table "    {\"${name}\", {std::string_view(kAsset${index}, ${size}), \"${type}\"}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from web/ by embed_assets.cmake when the program is built.
#include \"panel/embedded_assets.h\"

#include <array>
#include <utility>

namespace quelvar::panel {
namespace {

${arrays}
}  // namespace

std::optional<EmbeddedAsset> FindAsset(std::string_view name) {
  static const std::pair<std::string_view, EmbeddedAsset> kAssets[] = {
${table}  };
  for (const auto& [assetName, asset] : kAssets) {
    if (assetName == name) return asset;
  }
  return std::nullopt;
}

}  // namespace quelvar::panel
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
