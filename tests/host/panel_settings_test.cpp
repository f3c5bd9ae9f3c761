#include "host/panel_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "../data/temp_dir.h"

namespace quelvar::host {
namespace {

using Values = std::vector<std::pair<std::string, std::string>>;

constexpr char kStartText[] = "[INDICE]\r\nLocalQuelvarDB=QuelvarDB.db3\r\nPorta=7780\r\n; nota do operador\r\n";

class PanelSettingsTest : public ::testing::Test {
 protected:
  PanelSettingsTest() { Write(kStartText); }
  void Write(const std::string& text) { std::ofstream(folder_.File("Config1.ini"), std::ios::binary) << text; }
  std::string Read() const {
    std::ifstream in(folder_.File("Config1.ini"), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  quelvar::testing::TempDir folder_;
};

TEST_F(PanelSettingsTest, UnsoundValuesAreRefusedWithTheirKey) {
  const std::pair<Values, std::string> cases[] = {
      {{{"Porta", "0"}}, "Porta de comunicação"},
      {{{"Porta", "65536"}}, "Porta de comunicação"},
      {{{"Porta", "77a"}}, "Porta de comunicação"},
      {{{"Porta", ""}}, "Porta de comunicação"},
      {{{"PortaTLS", "70000"}}, "PortaTLS"},
      {{{"Endereco", "servidor.local"}}, "Endereco"},
      {{{"ConexoesMaximas", "-5"}}, "ConexoesMaximas"},
      {{{"OciosoMs", "1e3"}}, "OciosoMs"},
      {{{"Usuario", "a\nb"}}, "Usuario"},
      {{{"BackupAutomaticoHora", "25:00"}}, "Backup automático"},
      {{{"PortaTLS", "8443"}, {"CertificadoTLS", "nao-existe.pem"}, {"ChaveTLS", "nao-existe.key"}}, "TLS"},
  };
  for (const auto& [values, expected] : cases) {
    const std::string refusal = CheckPanelSettings(values, folder_.path());
    EXPECT_NE(refusal.find(expected), std::string::npos) << values.front().first << " -> " << refusal;
  }
  EXPECT_EQ(Read(), kStartText);
}

TEST_F(PanelSettingsTest, SoundValuesPass) {
  const Values cases[] = {
      {{"Porta", "7781"}},
      {{"Endereco", "127.0.0.1"}},
      {{"Endereco", "::1"}},
      {{"Endereco", ""}, {"PortaTLS", ""}, {"ConexoesMaximas", ""}},
      {{"BackupAutomaticoHora", "23:30"}, {"BackupAutomaticoManter", "3"}},
      {{"UsuarioPainel", "gerente"}, {"Usuario", "outro"}, {"Senha", "nova senha"}},
  };
  for (const Values& values : cases) EXPECT_EQ(CheckPanelSettings(values, folder_.path()), "") << values.front().first;
}

TEST_F(PanelSettingsTest, WritingKeepsTheOtherLinesAndTellsWhetherTheListenerRestarts) {
  EXPECT_FALSE(WritePanelSettings({{"BackupAutomaticoManter", "5"}, {"Endereco", ""}, {"Porta", "7780"}},
                                  folder_.path()).listener);
  EXPECT_EQ(Read(), std::string(kStartText) + "BackupAutomaticoManter=5\r\n");
  EXPECT_TRUE(
      WritePanelSettings({{"Porta", "7781"}, {"SenhaPainel", "x"}, {"Desconhecida", "y"}}, folder_.path()).listener);
  const std::string text = Read();
  EXPECT_NE(text.find("Porta=7781\r\n"), std::string::npos);
  EXPECT_EQ(text.find("SenhaPainel"), std::string::npos);  // never written by the panel
  EXPECT_EQ(text.find("Desconhecida"), std::string::npos);
  EXPECT_NE(text.find("; nota do operador"), std::string::npos);
}

TEST_F(PanelSettingsTest, TheReplicaKeysAreShownAndCheckedAsTheStartChecksThem) {
  std::vector<std::string> shown;
  for (const panel::SettingField& field : ReadPanelSettings(folder_.path())) shown.push_back(field.key);
  for (const char* key : {"Replica1", "Replica2", "ReplicaS3Endpoint", "ReplicaS3Regiao", "ReplicaS3Chaves",
                          "ReplicaIntervaloMs", "ReplicaRetencaoDias", "ReplicaLimiteLogMiB", "ReplicaEnsaioSegundos"}) {
    EXPECT_NE(std::find(shown.begin(), shown.end(), key), shown.end()) << key;
  }
  const std::pair<Values, std::string> refused[] = {
      {{{"ReplicaIntervaloMs", "5"}}, "ReplicaIntervaloMs in Config1.ini is \"5\": not a whole number from 10 to 3600000"},
      {{{"ReplicaRetencaoDias", "sete"}}, "ReplicaRetencaoDias"},
      {{{"ReplicaLimiteLogMiB", "0"}}, "ReplicaLimiteLogMiB"},
      {{{"ReplicaEnsaioSegundos", "-1"}}, "ReplicaEnsaioSegundos"},
      {{{"Replica1", "s3://balde/prefixo"}, {"ReplicaS3Endpoint", "http://127.0.0.1:9"}}, "ReplicaS3Chaves"},
      {{{"Replica2", "s3://balde/prefixo"}, {"ReplicaS3Chaves", "nao-existe.txt"}}, ""},
  };
  for (const auto& [values, expected] : refused) {
    const std::string refusal = CheckPanelSettings(values, folder_.path());
    EXPECT_NE(refusal, "") << values.front().first;
    EXPECT_NE(refusal.find(expected), std::string::npos) << values.front().first << " -> " << refusal;
  }
  const Values sound[] = {
      {{"Replica1", folder_.File("replica-a")}, {"ReplicaIntervaloMs", "500"}},
      {{"Replica2", ""}, {"ReplicaRetencaoDias", "30"}, {"ReplicaEnsaioSegundos", "3600"}},
  };
  for (const Values& values : sound) EXPECT_EQ(CheckPanelSettings(values, folder_.path()), "") << values.front().first;
  EXPECT_EQ(Read(), kStartText);
}

TEST_F(PanelSettingsTest, AReplicaKeyChangedRestartsTheReplicationNotTheListener) {
  struct Case {
    Values values;
    bool listener;
    bool replication;
  };
  const Case cases[] = {
      {{{"ReplicaIntervaloMs", "500"}}, false, true},
      {{{"ReplicaIntervaloMs", "500"}}, false, false},  // the same value again: nothing changed
      {{{"Replica1", folder_.File("replica-a")}, {"Porta", "7782"}}, true, true},
      {{{"BackupAutomaticoManter", "4"}}, false, false},
  };
  for (const Case& c : cases) {
    const SettingsRestarts restarts = WritePanelSettings(c.values, folder_.path());
    EXPECT_EQ(restarts.listener, c.listener) << c.values.front().first;
    EXPECT_EQ(restarts.replication, c.replication) << c.values.front().first;
  }
  const std::string text = Read();
  EXPECT_NE(text.find("ReplicaIntervaloMs=500\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Replica1=" + folder_.File("replica-a") + "\r\n"), std::string::npos) << text;
}

TEST_F(PanelSettingsTest, ThePanelsLoginAndIdleTimeComeFromTheFile) {
  EXPECT_EQ(ReadPanelCredentials(folder_.path()).user, "operador");
  EXPECT_EQ(ReadPanelCredentials(folder_.path()).passwordHash, "");
  EXPECT_EQ(ReadPanelIdleTime(folder_.path()), std::chrono::seconds(1800));
  Write("[INDICE]\nUsuarioPainel=gerente\nSenhaPainel=pbkdf2-sha256$1000$aa$bb\nPainelOciosoSeg=90\n");
  EXPECT_EQ(ReadPanelCredentials(folder_.path()).user, "gerente");
  EXPECT_EQ(ReadPanelCredentials(folder_.path()).passwordHash, "pbkdf2-sha256$1000$aa$bb");
  EXPECT_EQ(ReadPanelIdleTime(folder_.path()), std::chrono::seconds(90));
  Write("[INDICE]\nPainelOciosoSeg=0\n");
  EXPECT_EQ(ReadPanelIdleTime(folder_.path()), std::chrono::seconds(1800));
}

}  // namespace
}  // namespace quelvar::host
