// The self-update check over HTTP: "AtualizaServidor" against an update site
// served on loopback by the test.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "event_client.h"
#include "raw_http.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kGroup = "DWServerEventsFerramentas";
const std::string kBanner = "Servidor do Banco de Dados do Quelvar";
const std::string kUnreachable =
    "Ocorreu um erro na atualização.\rCausas possíveis:\rNão existe conexão com a internet ou foi desconectado.";
const std::string kNoUpdate = "Não existe atualização disponível no momento.";
const std::string kStatusEntry = "AtualizaServidor MSG: \r";
const std::string kRejected =
    "Ocorreu um erro na atualização.\rOs arquivos recebidos não conferem com a atualização publicada.";
const std::string kUnsigned =
    "Ocorreu um erro na atualização.\rA informação de atualização recebida não tem uma assinatura válida.";
const std::string kNotConfigured =
    "Ocorreu um erro na atualização.\rAs atualizações não estão configuradas neste servidor: falta a chave pública "
    "de verificação (ChaveAtualizacao.pem na pasta do programa, ou ChavePublicaAtualizacao em Config1.ini).";

// An Ed25519 key pair made for the test.
class SigningKey {
 public:
  SigningKey() {
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
    EVP_PKEY_keygen_init(context);
    EVP_PKEY_keygen(context, &key_);
    EVP_PKEY_CTX_free(context);
  }
  ~SigningKey() { EVP_PKEY_free(key_); }
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  // The public key as PEM text.
  std::string PublicPem() const {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(bio, key_);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return pem;
  }
  // The raw 32-byte public key in Base64.
  std::string PublicBase64() const {
    unsigned char raw[32];
    std::size_t size = sizeof raw;
    EVP_PKEY_get_raw_public_key(key_, raw, &size);
    return Base64(std::string(reinterpret_cast<char*>(raw), size));
  }
  // `text` followed by its signature line.
  std::string Signed(const std::string& text) const {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key_);
    unsigned char signature[64];
    std::size_t size = sizeof signature;
    EVP_DigestSign(context, signature, &size, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    EVP_MD_CTX_free(context);
    return text + "signature " + Base64(std::string(reinterpret_cast<char*>(signature), size)) + "\n";
  }

 private:
  static std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
  }

  EVP_PKEY* key_ = nullptr;
};

std::string Sha256(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  std::string hex;
  static constexpr char kHex[] = "0123456789abcdef";
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 15]);
  }
  return hex;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Polls `condition` every 20 ms for up to 30 s.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 1500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

// A minimal HTTP/1.0 file server on 127.0.0.1: GET of a published path
// answers its bytes, anything else 404. Each connection on its own thread;
// while held, answers wait until Release.
class UpdateSite {
 public:
  UpdateSite() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 16);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~UpdateSite() {
    Release();
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    acceptor_.join();
    std::lock_guard lock(mutex_);
    for (std::thread& t : workers_) t.join();
  }

  std::string Url(const std::string& name) const { return "http://127.0.0.1:" + std::to_string(port_) + "/quelvar/" + name; }
  void Publish(const std::string& name, std::string bytes) {
    std::lock_guard lock(mutex_);
    files_["/quelvar/" + name] = std::move(bytes);
  }
  void Hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      held_ = false;
    }
    released_.notify_all();
  }
  int Requests(const std::string& name) {
    std::lock_guard lock(mutex_);
    return requests_["/quelvar/" + name];
  }

 private:
  void Accept() {
    for (;;) {
      const int client = accept(listener_, nullptr, nullptr);
      if (client < 0) return;
      std::lock_guard lock(mutex_);
      workers_.emplace_back([this, client] { Serve(client); });
    }
  }
  void Serve(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = read(client, buffer, sizeof buffer);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    std::string reply;
    {
      std::unique_lock lock(mutex_);
      ++requests_[path];
      released_.wait(lock, [this] { return !held_; });
      const auto file = files_.find(path);
      reply = file == files_.end()
                  ? std::string("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
                  : "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(file->second.size()) + "\r\n\r\n" +
                        file->second;
    }
    for (std::size_t sent = 0; sent < reply.size();) {
      const ssize_t n = write(client, reply.data() + sent, reply.size() - sent);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    close(client);
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread acceptor_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
  std::map<std::string, std::string> files_;
  std::map<std::string, int> requests_;
  std::vector<std::thread> workers_;
};

class SelfUpdate : public ::testing::Test {
 protected:
  // The public key sits beside the program unless a test says otherwise.
  SelfUpdate() : server_(ServerProcess::FreshDatabase()) {
    std::ofstream(server_.programFolder() / "ChaveAtualizacao.pem") << key_.PublicPem();
  }
  // Starts the server with the update address in its environment.
  void StartWith(const std::string& url) {
    setenv("QUELVAR_UPDATE_URL", url.c_str(), 1);
    server_.StartWithFreshDatabase();
    unsetenv("QUELVAR_UPDATE_URL");
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.OperatorLog();
  }
  std::string Atualiza() {
    const EventReply reply =
        CallEvent(server_.port(), kGroup, "AtualizaServidor", {{"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }
  bool Logged(const std::string& status) {
    return Eventually([&] { return Count(server_.OperatorLog(), kStatusEntry + status + "\n") > 0; });
  }

  SigningKey key_;
  UpdateSite site_;
  ServerProcess server_;
};

TEST_F(SelfUpdate, NoNewerVersionInstallsNothing) {
  site_.Publish("info.txt", key_.Signed("# publicado\nversion 27\nfile 5 " + Sha256("novo!") + " LEIAME.txt\n"));
  site_.Publish("LEIAME.txt", "novo!");
  StartWith(site_.Url("info.txt"));
  EXPECT_EQ(Atualiza(), "OK");
  EXPECT_TRUE(Logged(kNoUpdate)) << server_.OperatorLog();
  EXPECT_EQ(site_.Requests("LEIAME.txt"), 0);
  EXPECT_FALSE(fs::exists(server_.programFolder() / "LEIAME.txt"));
}

TEST_F(SelfUpdate, UnreachableHostStillAnswersOk) {
  const std::uint16_t closed = FreeLoopbackPort();
  StartWith("http://127.0.0.1:" + std::to_string(closed) + "/quelvar/info.txt");
  EXPECT_EQ(Atualiza(), "OK");
  EXPECT_TRUE(Logged(kUnreachable)) << server_.OperatorLog();
}

TEST_F(SelfUpdate, NewerVersionIsVerifiedInstalledAndTheProgramRestarts) {
  const std::string program = ReadBytes(server_.executable());
  site_.Publish("info.txt", key_.Signed("version 28\r\nfile " + std::to_string(program.size()) + " " +
                                        Sha256(program) + " quelvar-server\r\nfile 5 " + Sha256("novo!") +
                                        " LEIAME.txt\r\n"));
  site_.Publish("quelvar-server", program);
  site_.Publish("LEIAME.txt", "novo!");
  StartWith(site_.Url("info.txt"));
  const pid_t pid = server_.pid();

  EXPECT_EQ(Atualiza(), "OK");
  ASSERT_TRUE(Eventually([&] { return Count(server_.Stdout(), kBanner) == 2; })) << server_.Stdout() << server_.OperatorLog();
  EXPECT_EQ(ReadBytes(server_.programFolder() / "LEIAME.txt"), "novo!");
  EXPECT_EQ(Count(server_.OperatorLog(), kStatusEntry + "Atualizado\n"), 2u);
  EXPECT_FALSE(fs::exists(server_.programFolder() / "Atualizacao.tmp"));
  EXPECT_EQ(server_.pid(), pid);
  ASSERT_TRUE(server_.WaitUntilAccepting());
  const EventReply about = CallEvent(server_.port(), kGroup, "Sobre", {{"Resposta", OutParam("Resposta")}});
  EXPECT_EQ(about.Text("Resposta"), "1.5");
  EXPECT_EQ(server_.Stop(), 0);
}

// Where an update's files land, and with which permissions: beside the
// running executable, whatever folder holds the data, never beyond
// rwxr-xr-x; the restart runs the program of that folder.
TEST(SelfUpdateFiles, LandBesideTheExecutableWithBoundedPermissions) {
  for (const bool dataFolder : {false, true}) {
    SCOPED_TRACE(dataFolder ? "with --data-folder" : "without a data folder");
    SigningKey key;
    UpdateSite site;
    ServerProcess server(ServerProcess::FreshDatabase());
    const fs::path programs = server.programFolder();
    const fs::path data = dataFolder ? programs / "dados" : programs;
    fs::create_directories(data);
    if (dataFolder) fs::copy_file(programs / "Config1.ini", data / "Config1.ini");
    std::ofstream(data / "ChaveAtualizacao.pem") << key.PublicPem();
    std::ofstream(programs / "Antigo.txt") << "velho";
    fs::permissions(programs / "Antigo.txt", fs::perms(0640));
    fs::permissions(server.executable(), fs::perms(0755));
    const std::string program = ReadBytes(server.executable());
    const std::string name = server.executable().filename().string();
    site.Publish("info.txt", key.Signed("version 28\nfile " + std::to_string(program.size()) + " " + Sha256(program) +
                                        " " + name + "\nfile 5 " + Sha256("novo!") + " LEIAME.txt\nfile 4 " +
                                        Sha256("novo") + " Antigo.txt\n"));
    site.Publish(name, program);
    site.Publish("LEIAME.txt", "novo!");
    site.Publish("Antigo.txt", "novo");
    std::vector<std::string> args = {"--headless", "--create-database"};
    if (dataFolder) args.insert(args.end(), {"--data-folder", data.string()});
    setenv("QUELVAR_UPDATE_URL", site.Url("info.txt").c_str(), 1);
    server.Start(args);
    unsetenv("QUELVAR_UPDATE_URL");
    ASSERT_TRUE(server.WaitUntilAccepting()) << server.OperatorLog();

    const EventReply reply = CallEvent(server.port(), kGroup, "AtualizaServidor", {{"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.Text("Resposta"), "OK");
    ASSERT_TRUE(Eventually([&] { return Count(server.Stdout(), kBanner) == 2; })) << server.OperatorLog();
    struct Installed {
      const char* what;
      fs::path file;
      std::string bytes;
      fs::perms mode;
    };
    const std::vector<Installed> files = {
        {"a new file", programs / "LEIAME.txt", "novo!", fs::perms(0755)},
        {"a replaced file", programs / "Antigo.txt", "novo", fs::perms(0640)},
        {"the executable", server.executable(), program, fs::perms(0755)},
    };
    for (const Installed& file : files) {
      SCOPED_TRACE(file.what);
      EXPECT_EQ(ReadBytes(file.file), file.bytes);
      EXPECT_EQ(fs::status(file.file).permissions(), file.mode);
    }
    if (dataFolder) {
      EXPECT_FALSE(fs::exists(data / "LEIAME.txt"));
      EXPECT_FALSE(fs::exists(data / name));
    }
    EXPECT_FALSE(fs::exists(programs / "Atualizacao.tmp"));
    ASSERT_TRUE(server.WaitUntilAccepting());
    EXPECT_EQ(server.Stop(), 0);
  }
}

// Files installed but the new program cannot run: the log says so, not that
// the files did not match.
TEST_F(SelfUpdate, AFailedRestartReportsItsOwnReason) {
  const std::string name = server_.executable().filename().string();
  const std::string broken = "isto não é um programa\n";
  site_.Publish("info.txt", key_.Signed("version 28\nfile " + std::to_string(broken.size()) + " " + Sha256(broken) +
                                        " " + name + "\n"));
  site_.Publish(name, broken);
  StartWith(site_.Url("info.txt"));
  EXPECT_EQ(Atualiza(), "OK");
  EXPECT_TRUE(Logged("Ocorreu um erro na atualização.\rOs arquivos foram instalados, mas o programa não pôde ser "
                     "reiniciado: Exec format error"))
      << server_.OperatorLog();
  EXPECT_EQ(Count(server_.OperatorLog(), kStatusEntry + kRejected + "\n"), 0u) << server_.OperatorLog();
}

TEST_F(SelfUpdate, UnverifiableUpdatesInstallNothing) {
  struct Case {
    std::string info;
    std::string readme;  // the bytes published as LEIAME.txt
  } cases[] = {
      {"version 28\nfile 5 " + Sha256("outro") + " LEIAME.txt\n", "novo!"},         // hash differs
      {"version 28\nfile 4 " + Sha256("novo!") + " LEIAME.txt\n", "novo!"},         // size differs
      {"version 28\nfile 5 " + Sha256("novo!") + " ../LEIAME.txt\n", "novo!"},      // leaves the folder
      {"version 28\nfile 99999999999 " + Sha256("novo!") + " LEIAME.txt\n", "novo!"},  // huge
      {"version vinte\n", "novo!"},                                                // malformed
  };
  for (const Case& c : cases) {
    site_.Publish("info.txt", key_.Signed(c.info));
    site_.Publish("LEIAME.txt", c.readme);
    if (!server_.Running()) StartWith(site_.Url("info.txt"));
    const std::size_t before = Count(server_.OperatorLog(), kStatusEntry);
    EXPECT_EQ(Atualiza(), "OK");
    ASSERT_TRUE(Eventually([&] { return Count(server_.OperatorLog(), kStatusEntry) > before; })) << c.info;
    EXPECT_TRUE(Logged(kRejected)) << c.info << server_.OperatorLog();
    EXPECT_FALSE(fs::exists(server_.programFolder() / "LEIAME.txt")) << c.info;
    EXPECT_FALSE(fs::exists(server_.programFolder().parent_path() / "LEIAME.txt")) << c.info;
  }
  EXPECT_EQ(Count(server_.Stdout(), kBanner), 1u);
}

TEST_F(SelfUpdate, RequestsWhileACheckIsBusyStartNothing) {
  site_.Publish("info.txt", key_.Signed("version 12\n"));
  site_.Hold();
  StartWith(site_.Url("info.txt"));
  EXPECT_EQ(Atualiza(), "OK");
  ASSERT_TRUE(Eventually([&] { return site_.Requests("info.txt") == 1; }));
  EXPECT_EQ(Atualiza(), "OK");
  EXPECT_EQ(Atualiza(), "OK");
  site_.Release();
  EXPECT_TRUE(Logged(kNoUpdate)) << server_.OperatorLog();
  EXPECT_EQ(site_.Requests("info.txt"), 1);
  EXPECT_EQ(Count(server_.OperatorLog(), kStatusEntry), 1u);

  EXPECT_EQ(Atualiza(), "OK");  // the worker is free again
  EXPECT_TRUE(Eventually([&] { return Count(server_.OperatorLog(), kStatusEntry) == 2; }));
  EXPECT_EQ(site_.Requests("info.txt"), 2);
}

TEST_F(SelfUpdate, InformationWithoutAValidSignatureInstallsNothing) {
  const std::string info = "version 28\nfile 5 " + Sha256("novo!") + " LEIAME.txt\n";
  const SigningKey other;
  std::string tampered = key_.Signed(info);
  tampered.replace(tampered.find("version 28"), 10, "version 29");
  const std::string cases[] = {
      info,                                   // unsigned
      other.Signed(info),                     // signed with another key
      tampered,                               // changed after signing
      info + "signature AAAA\n",              // not a signature
      key_.Signed(info) + "version 30\n",     // lines after the signature
  };
  site_.Publish("LEIAME.txt", "novo!");
  for (const std::string& published : cases) {
    site_.Publish("info.txt", published);
    if (!server_.Running()) StartWith(site_.Url("info.txt"));
    const std::size_t before = Count(server_.OperatorLog(), kStatusEntry + kUnsigned);
    EXPECT_EQ(Atualiza(), "OK");
    EXPECT_TRUE(Eventually([&] { return Count(server_.OperatorLog(), kStatusEntry + kUnsigned) > before; }))
        << published << server_.OperatorLog();
  }
  EXPECT_EQ(site_.Requests("LEIAME.txt"), 0);
  EXPECT_FALSE(fs::exists(server_.programFolder() / "LEIAME.txt"));
  EXPECT_EQ(Count(server_.Stdout(), kBanner), 1u);
}

TEST_F(SelfUpdate, WithoutAConfiguredKeyNothingIsFetched) {
  fs::remove(server_.programFolder() / "ChaveAtualizacao.pem");
  site_.Publish("info.txt", key_.Signed("version 28\nfile 5 " + Sha256("novo!") + " LEIAME.txt\n"));
  site_.Publish("LEIAME.txt", "novo!");
  StartWith(site_.Url("info.txt"));
  // The check ends at once, so the answer may already be its outcome.
  const std::string answer = Atualiza();
  EXPECT_TRUE(answer == "OK" || answer == kNotConfigured) << answer;
  EXPECT_TRUE(Logged(kNotConfigured)) << server_.OperatorLog();
  EXPECT_EQ(site_.Requests("info.txt"), 0);
  EXPECT_FALSE(fs::exists(server_.programFolder() / "LEIAME.txt"));
}

TEST_F(SelfUpdate, AKeyInTheSettingsAlsoVerifies) {
  fs::remove(server_.programFolder() / "ChaveAtualizacao.pem");
  site_.Publish("info.txt", key_.Signed("version 28\nfile 5 " + Sha256("novo!") + " LEIAME.txt\n"));
  site_.Publish("LEIAME.txt", "novo!");
  setenv("QUELVAR_UPDATE_URL", site_.Url("info.txt").c_str(), 1);
  server_.StartWithFreshDatabase();
  unsetenv("QUELVAR_UPDATE_URL");
  ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.OperatorLog();
  std::ofstream(server_.programFolder() / "Config1.ini", std::ios::app)
      << "ChavePublicaAtualizacao=" << key_.PublicBase64() << "\n";
  EXPECT_EQ(Atualiza(), "OK");
  EXPECT_TRUE(Logged("Atualizado")) << server_.OperatorLog();
  EXPECT_TRUE(Eventually([&] { return fs::exists(server_.programFolder() / "LEIAME.txt"); }));
}

TEST_F(SelfUpdate, SignedInformationNamingTheShopsFilesInstallsNothing) {
  StartWith(site_.Url("info.txt"));
  const std::string settings = ReadBytes(server_.programFolder() / "Config1.ini");
  const std::string database = ReadBytes(server_.databasePath());
  for (const std::string name : {"Config1.ini", "QuelvarDB.db3", "QuelvarDB.db3-journal", "Atualizacao.tmp"}) {
    site_.Publish("info.txt", key_.Signed("version 28\nfile 5 " + Sha256("novo!") + " " + name + "\n"));
    site_.Publish(name, "novo!");
    const std::size_t before = Count(server_.OperatorLog(), kStatusEntry + kRejected);
    EXPECT_EQ(Atualiza(), "OK");
    EXPECT_TRUE(Eventually([&] { return Count(server_.OperatorLog(), kStatusEntry + kRejected) > before; }))
        << name << server_.OperatorLog();
    EXPECT_EQ(site_.Requests(name), 0) << name;
  }
  EXPECT_EQ(ReadBytes(server_.programFolder() / "Config1.ini"), settings);
  EXPECT_EQ(ReadBytes(server_.databasePath()), database);
  EXPECT_FALSE(fs::exists(server_.databasePath() + "-journal"));
}

// An https update site whose certificate nobody vouches for is not trusted:
// the check fails as an unreachable site and installs nothing.
TEST_F(SelfUpdate, AnHttpsSiteWithAnUnverifiableCertificateIsNotTrusted) {
  const fs::path tls = server_.programFolder().parent_path() / "tls";
  fs::create_directory(tls);
  const std::string make = "openssl req -x509 -newkey ed25519 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " +
                           (tls / "k.pem").string() + " -out " + (tls / "c.pem").string() + " >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "the openssl command is not available";
  const std::uint16_t port = FreeLoopbackPort();
  const pid_t site = fork();
  if (site == 0) {
    const std::string accept = "127.0.0.1:" + std::to_string(port);
    execlp("openssl", "openssl", "s_server", "-quiet", "-www", "-accept", accept.c_str(), "-cert",
           (tls / "c.pem").c_str(), "-key", (tls / "k.pem").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(site, 0);
  struct Stop {
    pid_t pid;
    ~Stop() {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  } stop{site};
  ASSERT_TRUE(Eventually([&] {
    try {
      RawConnection probe(port);
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }));

  StartWith("https://127.0.0.1:" + std::to_string(port) + "/quelvar/info.txt");
  EXPECT_EQ(Atualiza(), "OK");
  EXPECT_TRUE(Logged(kUnreachable)) << server_.OperatorLog();
  EXPECT_EQ(Count(server_.Stdout(), kBanner), 1u);
}

}  // namespace
}  // namespace quelvar::test
