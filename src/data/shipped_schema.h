#pragma once
// The database schema shipped with the server (schema/quelvar.sql), built into
// the program so that a fresh database file can be created without the file.

#include <string_view>

namespace quelvar {

std::string_view ShippedSchema();

}  // namespace quelvar
