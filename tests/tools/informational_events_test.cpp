// "Sobre" and "ServerTime": the version text and the server's local clock.

#include "tools/informational_events.h"

#include <stdlib.h>
#include <time.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "data/tdm.h"

namespace quelvar::tools {
namespace {

class NullConsole final : public OperatorConsole {
 public:
  void countModule() override { ++count; }
  void log(std::string) override {}
  int count = 0;
};

TJSONParam& AddOut(TDWParams& params, std::string_view name, TObjectValue type) {
  TJSONParam& p = params.AddNew();
  p.SetParamName(name);
  p.SetDirection(TObjectDirection::odOUT);
  p.SetValueType(type);
  return p;
}

TEST(Sobre, AnswersTheVersionText) {
  NullConsole console;
  TDM module(console, nullptr, "/");
  TDWParams params;
  params.vEncoding = TEncodeSelect::esASCII;
  AddOut(params, "Resposta", TObjectValue::ovString);
  std::string result;
  Sobre(module, params, result);
  EXPECT_EQ(params.Item("resposta").GetAsString(), "1.5");
  EXPECT_EQ(params.Item("Resposta").ToJSON(),
            "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", \"ValueType\":\"ovString\", "
            "\"RESPOSTA\":\"MS41\"}");
  EXPECT_EQ(result, "");
  EXPECT_EQ(console.count, 1);  // the module counted itself once
}

// The local time of a zone three hours west of UTC, read before and after the
// call, brackets the value the handler stores.
TEST(ServerTime, SetsResultadoToTheLocalTime) {
  const char* previous = getenv("TZ");
  const std::string saved = previous ? previous : "";
  setenv("TZ", "UTC+3", 1);
  tzset();

  NullConsole console;
  TDM module(console, nullptr, "/");
  TDWParams params;
  AddOut(params, "Resultado", TObjectValue::ovDateTime);
  std::string result;
  const time_t before = time(nullptr);
  ServerTime(module, params, result);
  const time_t after = time(nullptr);

  if (previous) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();

  const TJSONParam& resultado = params.Item("Resultado");
  EXPECT_EQ(resultado.ValueType(), TObjectValue::ovDateTime);
  EXPECT_FALSE(resultado.Encoded());
  // Whole seconds since 1899-12-30 on the wire; the local clock is UTC - 3 h.
  constexpr std::int64_t kUnixEpochOnWire = 25569LL * 86400LL;
  const std::int64_t wire = std::stoll(resultado.GetAsString());
  EXPECT_GE(wire, kUnixEpochOnWire + before - 3 * 3600);
  EXPECT_LE(wire, kUnixEpochOnWire + after - 3 * 3600 + 1);
  EXPECT_EQ(result, "");
}

TEST(ServerTime, WithoutResultadoChangesNothing) {
  NullConsole console;
  TDM module(console, nullptr, "/");
  TDWParams params;
  std::string result;
  ServerTime(module, params, result);
  EXPECT_EQ(params.Count(), 0);
  EXPECT_EQ(result, "");
}

TEST(InformationalEvents, AreRegisteredUnderTheirGroups) {
  service::HandlerRegistry::Builder builder;
  RegisterInformationalEvents(builder);
  const service::HandlerRegistry registry = std::move(builder).Build();
  EXPECT_NE(registry.Find("dwservereventsferramentas", "SOBRE"), nullptr);
  EXPECT_NE(registry.Find("DWServerEventsT03_CONF", "ServerTime"), nullptr);
  EXPECT_EQ(registry.Find("DWServerEventsFerramentas", "ServerTime"), nullptr);
  EXPECT_EQ(registry.Size(), 2u);
}

}  // namespace
}  // namespace quelvar::tools
