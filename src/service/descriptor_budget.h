#pragma once
// How many connections fit the process's open-file limit. Every served
// connection may hold its socket and, while its request runs, a database
// connection of its own (the file, the log and the log's index); accepting
// threads hold a descriptor each while they wait in accept() (the system
// takes its number before the wait); and the database, backups, logs and
// the panel keep a fixed reserve. The connection cap is lowered until all of
// that fits, so that no number of connections can leave the server unable
// to open a file.

#include <cstddef>

namespace quelvar::service {

// Descriptors one served connection may hold at once.
inline constexpr std::size_t kDescriptorsPerConnection = 4;
// Kept for the database's own connections, backups, restores, logs, the
// update and the panel.
inline constexpr std::size_t kReservedDescriptors = 128;

struct DescriptorBudget {
  std::size_t limit = 0;        // the open-file limit (soft)
  std::size_t inUse = 0;        // descriptors open when it was computed
  std::size_t reserve = 0;      // kept free: kReservedDescriptors and the accepting threads'
  std::size_t connections = 0;  // the effective connection cap (at least 1, at most the one asked for)
};

// The budget for `wanted` connections with `acceptingThreads` threads that
// may hold a descriptor each outside the cap, under `limit` with `inUse`
// descriptors already open.
DescriptorBudget FitConnections(std::size_t wanted, std::size_t acceptingThreads, std::size_t limit,
                                std::size_t inUse);

// The same under this process's limit and with its descriptors open now.
DescriptorBudget FitConnections(std::size_t wanted, std::size_t acceptingThreads);

}  // namespace quelvar::service
