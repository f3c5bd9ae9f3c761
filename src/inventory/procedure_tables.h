#pragma once
// The option tables of the dispatch, joined from every table family's own rows.

#include <span>

#include "inventory/dispatch.h"

namespace quelvar::inventory {

std::span<const QueryOption> QueryOptions();
std::span<const SaveOption> SaveOptions();
std::span<const DeleteOption> DeleteOptions();

}  // namespace quelvar::inventory
