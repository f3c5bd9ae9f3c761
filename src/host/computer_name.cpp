#include "host/computer_name.h"

#include <unistd.h>

#include <array>
#include <cstring>

namespace quelvar::host {

std::string NomeComputador() {
  std::array<char, 256> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) return {};
  return std::string(name.data(), ::strnlen(name.data(), kComputerNameLength));
}

}  // namespace quelvar::host
