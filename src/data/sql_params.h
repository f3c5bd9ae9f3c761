#pragma once
// The named parameters of a statement text: every ":name" outside string
// literals, quoted identifiers and comments, where name is a run of letters,
// digits, "_" and non-ASCII bytes. Statements of this server name them ":p00",
// ":p01", ... in order.

#include <string>
#include <string_view>
#include <vector>

namespace quelvar {

// Parameter names without the colon, in order of first appearance; a name
// that appears again (compared without regard to ASCII case) is listed once.
std::vector<std::string> ScanParamNames(std::string_view sql);

}  // namespace quelvar
