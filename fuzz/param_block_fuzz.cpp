// Fuzz target: the binary parameter block of binary requests, read into a
// parameter list, then every parameter read and the list written again.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/errors.h"
#include "formats/param_block.h"
#include "formats/params.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view block(reinterpret_cast<const char*>(data), size);
  quelvar::TDWParams params;
  try {
    quelvar::LoadFromStream(params, block, quelvar::TDWParamExpType::tdwpxt_All);
  } catch (const quelvar::Error&) {
  }
  for (int index = 0; index < params.Count(); ++index) {
    const auto* param = params.GetRec(index);
    (void)param->GetAsString();
    (void)param->ToJSON();
  }
  try {
    (void)quelvar::SaveToStream(params, quelvar::TDWParamExpType::tdwpxt_All);
  } catch (const quelvar::Error&) {
  }
  (void)params.ToJSON();
  return 0;
}
