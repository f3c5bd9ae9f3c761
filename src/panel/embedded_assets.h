#pragma once
// The panel's pages and their assets, built into the program from web/ (and
// the chart library's files installed from its lock file) when it is built.
// Nothing of the panel is ever read from disk.

#include <optional>
#include <string_view>

namespace quelvar::panel {

struct EmbeddedAsset {
  std::string_view bytes;
  std::string_view contentType;  // every asset is UTF-8 text
};

// The asset of `name` (as "index.html", "uPlot.min.css"); nothing for any other name.
std::optional<EmbeddedAsset> FindAsset(std::string_view name);

}  // namespace quelvar::panel
