#include "service/descriptor_budget.h"

#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

namespace quelvar::service {

DescriptorBudget FitConnections(std::size_t wanted, std::size_t acceptingThreads, std::size_t limit,
                                std::size_t inUse) {
  DescriptorBudget budget;
  budget.limit = limit;
  budget.inUse = inUse;
  budget.reserve = kReservedDescriptors + acceptingThreads;
  const std::size_t taken = budget.inUse + budget.reserve;
  const std::size_t room = limit > taken ? (limit - taken) / kDescriptorsPerConnection : 0;
  budget.connections = std::clamp<std::size_t>(room, 1, std::max<std::size_t>(wanted, 1));
  return budget;
}

DescriptorBudget FitConnections(std::size_t wanted, std::size_t acceptingThreads) {
  rlimit limit{};
  std::size_t soft = std::numeric_limits<std::size_t>::max();
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) soft = limit.rlim_cur;
  std::size_t open = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) ++open;
  return FitConnections(wanted, acceptingThreads, soft, open);
}

}  // namespace quelvar::service
