#pragma once
// The binary form of a parameter list (binary requests and replies).
// Little-endian; texts in the Windows-1252 code page.
//
// Header: int32 6, int32 record count, int64 bytes after the header.
// Record: int64 name length + name, int32 direction, 2 bytes Encoded, int32
// mode, int32 kind, int32 value type, then the value by type.
//
// Float types (ovFloat, ovCurrency, ovBCD, ovFMTBcd, ovExtended) travel as an
// 8-byte length and the float wire text ("12D5"); ovWord as 2 bytes; ovSingle
// as a 4-byte integer. Both directions use these layouts.

#include <string>
#include <string_view>

#include "formats/params.h"

namespace quelvar {

enum class TDWParamExpType { tdwpxt_All, tdwpxt_IN, tdwpxt_OUT, tdwpxt_INOUT };

// The block of the selected parameters of `params`.
std::string SaveToStream(const TDWParams& params, TDWParamExpType selection);
// Reads a block into `params` (existing names are updated, new ones appended).
// Raises Error("Invalid Stream...") when the header's byte count does not match
// the data, and Error("Stream read error") when a record runs past the end.
void LoadFromStream(TDWParams& params, std::string_view block, TDWParamExpType selection);

}  // namespace quelvar
