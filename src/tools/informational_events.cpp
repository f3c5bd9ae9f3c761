#include "tools/informational_events.h"

#include <chrono>
#include <ctime>

namespace quelvar::tools {

void Sobre(TDM&, TDWParams& params, std::string&) { params.Item("Resposta").SetAsString(kServerVersion); }

void ServerTime(TDM&, TDWParams& params, std::string&) {
  if (TJSONParam* resultado = params.GetRecName("Resultado")) resultado->SetAsDateTime(LocalNow());
}

TDateTime LocalNow() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec, static_cast<int>(ms < 0 ? ms + 1000 : ms));
}

void RegisterInformationalEvents(service::HandlerRegistry::Builder& registry) {
  registry.Add("DWServerEventsFerramentas", "Sobre", Sobre);
  registry.Add("DWServerEventsT03_CONF", "ServerTime", ServerTime);
}

}  // namespace quelvar::tools
