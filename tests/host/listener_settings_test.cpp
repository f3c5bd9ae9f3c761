// The listener's keys of Config1.ini and their defaults.

#include "host/listener_settings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quelvar::host {
namespace {

using namespace std::chrono_literals;

service::ListenerOptions From(const std::string& lines) {
  return ListenerOptionsFrom(IniFile::FromText("[INDICE]\nPorta=7780\n" + lines), "/opt/q");
}

TEST(ListenerSettings, DefaultsWithoutKeys) {
  const service::ListenerOptions options = From("");
  EXPECT_EQ(options.user, "varosa");
  EXPECT_EQ(options.password, "quibet4693");
  EXPECT_EQ(options.address, "");
  EXPECT_FALSE(options.tls.has_value());
  EXPECT_EQ(options.limits.bodyBudget, 1ull << 30);
  EXPECT_EQ(options.limits.maxConnections, 4096u);
  EXPECT_EQ(options.limits.maxConnectionsPerAddress, 256u);
  EXPECT_EQ(options.limits.freeLoginFailures, 20u);
  EXPECT_EQ(options.limits.headerDeadline, 60s);
  EXPECT_EQ(options.limits.idleTimeout, 120s);
  EXPECT_EQ(options.limits.bodyGrace, 60s);
  EXPECT_EQ(options.limits.minBodyRate, 1024u);
}

TEST(ListenerSettings, EachKeySetsItsOption) {
  struct Case {
    std::string lines;
    std::function<bool(const service::ListenerOptions&)> holds;
  };
  const std::vector<Case> cases = {
      {"Usuario=estoque\nSenha= dois  espacos\n",
       [](const auto& o) { return o.user == "estoque" && o.password == "dois  espacos"; }},
      {"Usuario=\nSenha=\n", [](const auto& o) { return o.user == "varosa" && o.password == "quibet4693"; }},
      {"usuario=minusculas\n", [](const auto& o) { return o.user == "minusculas"; }},
      {"Endereco=127.0.0.2\n", [](const auto& o) { return o.address == "127.0.0.2"; }},
      {"PortaTLS=7781\nCertificadoTLS=cert.pem\nChaveTLS=/etc/q/key.pem\n",
       [](const auto& o) {
         return o.tls && o.tls->port == 7781 && o.tls->certificateFile == "/opt/q/cert.pem" &&
                o.tls->privateKeyFile == "/etc/q/key.pem";
       }},
      {"PortaTLS=0\n", [](const auto& o) { return !o.tls; }},
      {"PortaTLS=70000\n", [](const auto& o) { return !o.tls; }},
      {"PortaTLS=abc\n", [](const auto& o) { return !o.tls; }},
      {"MemoriaCorposMiB=64\n", [](const auto& o) { return o.limits.bodyBudget == 64ull << 20; }},
      {"MemoriaCorposMiB=-5\n", [](const auto& o) { return o.limits.bodyBudget == 1ull << 30; }},
      {"MemoriaCorposMiB=0\n", [](const auto& o) { return o.limits.bodyBudget == 1ull << 30; }},
      {"ConexoesMaximas=100\nConexoesPorEndereco=10\n",
       [](const auto& o) { return o.limits.maxConnections == 100 && o.limits.maxConnectionsPerAddress == 10; }},
      {"FalhasLogin=0\n", [](const auto& o) { return o.limits.freeLoginFailures == 0; }},
      {"PrazoCabecalhoMs=1500\nOciosoMs=2500\nCarenciaCorpoMs=500\nTaxaMinimaCorpo=0\n",
       [](const auto& o) {
         return o.limits.headerDeadline == 1500ms && o.limits.idleTimeout == 2500ms && o.limits.bodyGrace == 500ms &&
                o.limits.minBodyRate == 0;
       }},
      {"PrazoCabecalhoMs=1.5\n", [](const auto& o) { return o.limits.headerDeadline == 60s; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    EXPECT_TRUE(c.holds(From(c.lines)));
  }
}

}  // namespace
}  // namespace quelvar::host
