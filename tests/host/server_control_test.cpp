#include "host/server_control.h"

#include "host/host_texts.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace quelvar::host {
namespace {

struct SilentConsole final : OperatorConsole {
  void countModule() override {}
  void log(std::string) override {}
};

// A loopback port held open (listening) for the life of the object.
class HeldPort {
 public:
  HeldPort() : fd_(::socket(AF_INET6, SOCK_STREAM, 0)) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    socklen_t size = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(fd_, 1);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin6_port);
  }
  ~HeldPort() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

class ServerControlTest : public ::testing::Test {
 protected:
  SilentConsole console_;
  ServerControl server_{console_, std::filesystem::temp_directory_path()};
};

TEST_F(ServerControlTest, DesignCaptionAndNoVersionUntilTheFirstStart) {
  EXPECT_EQ(server_.Version(), "");
  EXPECT_EQ(server_.Caption(), "Servidor do Banco de Dados do Quelvar 1.5 - Porta 8040");
  EXPECT_FALSE(server_.Listening());
  EXPECT_EQ(server_.BoundPort(), 0);
}

TEST_F(ServerControlTest, StartSetsTheVersionAndTheCaptionOfThePort) {
  server_.SetPort(0);
  server_.Start();
  EXPECT_TRUE(server_.Listening());
  EXPECT_NE(server_.BoundPort(), 0);
  EXPECT_EQ(server_.Version(), "1.5");
  EXPECT_EQ(server_.Caption(), "Servidor do Banco de Dados do Quelvar 1.5 - Porta 0");
  server_.Start();  // a restart on the same settings
  EXPECT_TRUE(server_.Listening());
  server_.Stop();
  EXPECT_FALSE(server_.Listening());
  server_.Stop();  // harmless when stopped
}

TEST_F(ServerControlTest, FailedStartLeavesTheListenerStoppedAndTheCaptionAsItWas) {
  server_.SetPort(0);
  server_.Start();
  HeldPort held;
  for (const int port : {held.port(), -1, 65536}) {
    SCOPED_TRACE(port);
    server_.SetPort(port);
    EXPECT_THROW(server_.Start(), service::ListenerError);
    EXPECT_FALSE(server_.Listening());
    EXPECT_EQ(server_.Version(), "1.5");
    EXPECT_EQ(server_.Caption(), "Servidor do Banco de Dados do Quelvar 1.5 - Porta 0");
  }
  server_.SetPort(held.port());
  try {
    server_.Start();
    FAIL() << "started on a port held elsewhere";
  } catch (const service::ListenerError& error) {
    EXPECT_STREQ(error.what(), "Address already in use");
  }
}

TEST_F(ServerControlTest, DatabasePathIsPublishedToTheServiceModules) {
  server_.SetDatabasePath("/dados/QuelvarDB.db3");
  EXPECT_EQ(server_.DatabasePath(), "/dados/QuelvarDB.db3");
  EXPECT_EQ(*server_.SharedDatabasePath()->get(), "/dados/QuelvarDB.db3");
}

TEST(HostTexts, CarriageReturnsBecomeLineBreaks) {
  EXPECT_EQ(WithLineBreaks("a\r\rb  "), "a\n\nb  ");
  EXPECT_EQ(WithLineBreaks("a\r\nb\nc\r"), "a\nb\nc\n");
  EXPECT_EQ(WithLineBreaks(""), "");
}

}  // namespace
}  // namespace quelvar::host
