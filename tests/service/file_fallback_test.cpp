// The file fallback: files of the program folder, content types, the Referer
// rule, and every way out of the folder refused.

#include "service/file_fallback.h"

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/standard_handlers.h"
#include "service/content_types.h"
#include "service/event_service.h"
#include "service_test_support.h"

namespace quelvar::service {
namespace {

using test::ClientHeaders;
using test::MakeRequest;
using test::RecordingConsole;
using test::TempFolder;

namespace fs = std::filesystem;

// The event service with the server's own catalogue and event table.
std::unique_ptr<EventService> ServerEventService(OperatorConsole& console, const fs::path& program,
                                                 std::shared_ptr<DatabasePath> databasePath) {
  return std::make_unique<EventService>(console, program, std::move(databasePath), BuildEventCatalogue(),
                                        host::StandardHandlers());
}

void WriteFile(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << bytes;
}

class FileFallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = root_.path() / "programa";
    fs::create_directories(program_);
    WriteFile(program_ / "index.html", "<p>oi</p>");
    WriteFile(program_ / "dados.json", "{\"a\":1}");
    WriteFile(program_ / "sub" / "nota.txt", std::string("a\0b", 3));
    WriteFile(program_ / "semponto", "x");
    WriteFile(root_.path() / "segredo.txt", "fora da pasta");
    fs::create_symlink(root_.path() / "segredo.txt", program_ / "atalho.txt");
    fs::create_directory_symlink(root_.path(), program_ / "raiz.lnk");
    fs::create_symlink(program_ / "index.html", program_ / "dentro.html");
  }

  HttpReply Send(const std::string& target, HeaderList extra = {}) {
    HeaderList headers = ClientHeaders();
    for (auto& h : extra) headers.push_back(std::move(h));
    HttpReply reply;
    service_->Handle(MakeRequest("GET", target, std::move(headers)), reply);
    return reply;
  }

  TempFolder root_;
  fs::path program_;
  RecordingConsole console_;
  std::unique_ptr<EventService> service_;
};

TEST_F(FileFallbackTest, ServesFilesOfTheProgramFolder) {
  service_ = ServerEventService(console_, program_, std::make_shared<DatabasePath>(""));
  struct Case {
    std::string target, contentType, body;
  };
  const std::vector<Case> cases = {
      {"/index.html", "text/html", "<p>oi</p>"},
      {"/dados.json", "application/javascript", "{\"a\":1}"},
      {"/sub/nota.txt", "text/plain", std::string("a\0b", 3)},
      {"/sub//nota.txt", "text/plain", std::string("a\0b", 3)},
      {"/dentro.html", "text/html", "<p>oi</p>"},  // a link that stays inside
  };
  for (const Case& c : cases) {
    const HttpReply reply = Send(c.target);
    EXPECT_EQ(reply.status, 200) << c.target;
    EXPECT_EQ(reply.contentType, c.contentType) << c.target;
    EXPECT_EQ(reply.body, c.body) << c.target;
    EXPECT_EQ(reply.contentEncoding, "") << c.target;
  }
}

TEST_F(FileFallbackTest, RefusesEveryWayOut) {
  service_ = ServerEventService(console_, program_, std::make_shared<DatabasePath>(""));
  const std::vector<std::string> targets = {
      "/../segredo.txt",
      "/sub/../index.html",
      "/sub/../../segredo.txt",
      "/./index.html",
      "//" + (root_.path() / "segredo.txt").string(),
      "/atalho.txt",             // a link leading out of the folder
      "/raiz.lnk/segredo.txt",   // a folder link leading out
      "/sub\\..\\index.html",
      "/%2e%2e/segredo.txt",     // not percent-decoded: no such folder
      "/C:/segredo.txt",
      "/semponto",               // no dot anywhere in the path
      "/sub",                    // a folder
  };
  for (const std::string& target : targets) {
    const HttpReply reply = Send(target);
    EXPECT_NE(reply.body, "fora da pasta") << target;
    EXPECT_EQ(reply.status, 404) << target;
    EXPECT_EQ(reply.body, "Event not found...") << target;
  }
}

TEST_F(FileFallbackTest, RefererSegmentIsTriedInFrontOfThePath) {
  service_ = ServerEventService(console_, program_, std::make_shared<DatabasePath>(""));
  const HttpReply viaReferer = Send("/nota.txt", {{"Referer", "http://127.0.0.1:8082/sub?x=1"}});
  EXPECT_EQ(viaReferer.status, 200);
  EXPECT_EQ(viaReferer.body, std::string("a\0b", 3));
  const HttpReply endsInSlash = Send("/nota.txt", {{"Referer", "http://127.0.0.1:8082/sub/"}});
  EXPECT_EQ(endsInSlash.status, 404);
  const HttpReply escaping = Send("/segredo.txt", {{"Referer", "http://127.0.0.1:8082/.."}});
  EXPECT_EQ(escaping.status, 404);
}

TEST_F(FileFallbackTest, MapAndWebdwpcRequestsGetAnEmptyReply) {
  service_ = ServerEventService(console_, program_, std::make_shared<DatabasePath>(""));
  for (const std::string target : {"/app.js.map", "/x/y.webdwpc"}) {
    const HttpReply reply = Send(target);
    EXPECT_EQ(reply.status, 200) << target;
    EXPECT_EQ(reply.body, "") << target;
  }
}

TEST_F(FileFallbackTest, EventsWinOverFiles) {
  // A path with a dot that names both an event and an existing file.
  WriteFile(program_ / "TDM.DWServerEventsFerramentas" / "Sobre", "arquivo");
  service_ = ServerEventService(console_, program_, std::make_shared<DatabasePath>(""));
  const HttpReply reply = Send("/TDM.DWServerEventsFerramentas/Sobre");
  EXPECT_EQ(reply.status, 200);
  EXPECT_NE(reply.body, "arquivo");
  EXPECT_EQ(reply.contentType, "application/json");
}

TEST_F(FileFallbackTest, TheShopsDataAndSettingsAnswerAsMissingFiles) {
  const std::string header("SQLite format 3\0rest of a page", 31);
  WriteFile(program_ / "dados" / "Loja.db3", header);
  for (const char* side : {"-journal", "-wal", "-shm"}) WriteFile(program_ / "dados" / ("Loja.db3" + std::string(side)), "x");
  WriteFile(program_ / "Config1.ini", "[INDICE]\r\n");
  WriteFile(program_ / "Backup" / "Seg.db3", header);
  WriteFile(program_ / "Backup" / "Seg.db3-journal", "x");
  WriteFile(program_ / "Backup" / "leia.txt", "texto");
  fs::create_symlink(program_ / "dados" / "Loja.db3", program_ / "copia.txt");
  fs::create_hard_link(program_ / "dados" / "Loja.db3", program_ / "vinculo.txt");
  service_ = ServerEventService(
      console_, program_, std::make_shared<DatabasePath>((program_ / "dados" / "Loja.db3").string()));

  for (const std::string target : {"/dados/Loja.db3", "/dados/Loja.db3-journal", "/dados/Loja.db3-wal",
                                   "/dados/Loja.db3-shm", "/Config1.ini", "/Backup/Seg.db3",
                                   "/Backup/Seg.db3-journal", "/copia.txt", "/vinculo.txt"}) {
    const HttpReply reply = Send(target);
    EXPECT_EQ(reply.status, 404) << target;
    EXPECT_EQ(reply.body, "Event not found...") << target;
  }
  const HttpReply viaReferer = Send("/Loja.db3", {{"Referer", "http://127.0.0.1:8082/dados"}});
  EXPECT_EQ(viaReferer.status, 404);
  const HttpReply other = Send("/Backup/leia.txt");
  EXPECT_EQ(other.status, 200);
  EXPECT_EQ(other.body, "texto");
}

TEST(ContentTypeOf, SubstringOrderThenExtension) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a.html", "text/html"},        {"A.HTM", "text/html"},         {"x.php", "text/php"},
      {"p.PNG", "image/png"},         {"b.bmp", "image/bmp"},         {"f.ico", "image/ico"},
      {"g.gif", "image/gif"},         {"j.jpg", "image/jpg"},         {"s.js", "application/javascript"},
      {"d.json", "application/javascript"}, {"r.pdf", "application/pdf"}, {"z.zip", "application/zip"},
      {"r.rar", "application/rar"},   {"c.css", "text/css"},          {"t.txt", "text/plain"},
      {"x.html.txt", "text/html"},    {"dados.bin", "application/octet-stream"},
      {"sem-extensao", "application/octet-stream"},
  };
  for (const auto& [name, type] : cases) EXPECT_EQ(ContentTypeOf(name), type) << name;
}

}  // namespace
}  // namespace quelvar::service
