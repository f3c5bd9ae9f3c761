#pragma once
// Creation of a new, empty database file from the schema built into the program
// (the --create-database option).

#include <filesystem>

namespace quelvar::host {

// Creates the database file `path` with every table, index and trigger of the
// built-in schema. Throws std::runtime_error with a message when it cannot.
void CreateDatabaseFromSchema(const std::filesystem::path& path);

}  // namespace quelvar::host
