#pragma once
// How many free queries run at once, all requests of the process together:
// each takes a slot for its whole run; one that finds none free waits up to
// kFreeQuerySlotWait, then fails with a message naming the setting.
//
//   FreeQuerySlot slot(budget.atOnce);   // raises Error when none frees in time

#include <chrono>
#include <cstdint>
#include <string>

namespace quelvar::tools {

inline constexpr std::chrono::milliseconds kFreeQuerySlotWait{2000};

// "A consulta livre já tem 2 consultas em andamento (ConsultaLivreSimultaneas
// em Config1.ini); tente de novo em instantes."
std::string FreeQueriesBusyMessage(std::uint64_t atOnce);

class FreeQuerySlot {
 public:
  explicit FreeQuerySlot(std::uint64_t atOnce);
  ~FreeQuerySlot();
  FreeQuerySlot(const FreeQuerySlot&) = delete;
  FreeQuerySlot& operator=(const FreeQuerySlot&) = delete;
};

}  // namespace quelvar::tools
