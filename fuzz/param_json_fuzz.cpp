// Fuzz target: one parameter text read by a parameter (and by a bare value
// holder), then read back through the typed accessors and written again.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/errors.h"
#include "formats/json_value.h"
#include "formats/params.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  {
    quelvar::TJSONParam param;
    try {
      param.FromJSON(text);
    } catch (const quelvar::Error&) {
    }
    (void)param.GetAsString();
    (void)param.ToJSON();
    try {
      (void)param.GetAsLargeInt();
    } catch (const quelvar::Error&) {
    }
    try {
      (void)param.GetAsBoolean();
    } catch (const quelvar::Error&) {
    }
    try {
      (void)param.GetAsFloat();
    } catch (const quelvar::Error&) {
    }
    try {
      (void)param.GetVariantValue();
    } catch (const quelvar::Error&) {
    }
  }
  {
    quelvar::TJSONValue holder;
    try {
      holder.LoadFromJSON(text);
    } catch (const quelvar::Error&) {
    }
    (void)holder.Value();
    (void)holder.ToJSON();
  }
  (void)quelvar::ExtractValueText(text);
  return 0;
}
