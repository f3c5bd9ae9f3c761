#pragma once
// The computer's name as the operator window shows it.

#include <string>

namespace quelvar::host {

// Longest computer name shown; longer names are cut.
inline constexpr std::size_t kComputerNameLength = 15;

// The host name the system reports, cut to kComputerNameLength characters;
// empty when the system call fails.
std::string NomeComputador();

}  // namespace quelvar::host
