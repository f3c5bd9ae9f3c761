#include "host/headless_console.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace quelvar::host {
namespace {

// Everything written to a pipe, read on a thread of its own.
class PipeCapture {
 public:
  PipeCapture() {
    if (::pipe2(fds_.data(), O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    reader_ = std::thread([this] {
      std::array<char, 65536> chunk{};
      for (;;) {
        const ssize_t n = ::read(fds_[0], chunk.data(), chunk.size());
        if (n <= 0) return;
        text_.append(chunk.data(), static_cast<std::size_t>(n));
      }
    });
  }
  ~PipeCapture() {
    CloseWriter();
    if (reader_.joinable()) reader_.join();
    ::close(fds_[0]);
  }
  int writer() const { return fds_[1]; }
  // Closes the writing end and returns everything that was written.
  std::string Finish() {
    CloseWriter();
    reader_.join();
    return text_;
  }

 private:
  void CloseWriter() {
    if (fds_[1] >= 0) ::close(fds_[1]);
    fds_[1] = -1;
  }
  std::array<int, 2> fds_{-1, -1};
  std::thread reader_;
  std::string text_;
};

TEST(HeadlessConsole, EntryIsWrittenWholeWithItsCarriageReturns) {
  PipeCapture capture;
  HeadlessConsole console(capture.writer());
  console.log("ConsultaUsuario --> \rno such table: T01_USUA");
  console.log("");
  EXPECT_EQ(capture.Finish(), "ConsultaUsuario --> \rno such table: T01_USUA\n\n");
}

TEST(HeadlessConsole, CounterCountsEveryModuleFromEveryThread) {
  HeadlessConsole console(-1);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) console.countModule();
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(console.count(), 80000);
}

TEST(HeadlessConsole, ConcurrentEntriesNeverInterleave) {
  PipeCapture capture;
  HeadlessConsole console(capture.writer());
  // Entries larger than what one pipe write keeps together.
  const std::size_t size = 100000;
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&console, t, size] {
      for (int i = 0; i < 10; ++i) {
        std::string entry = "entry " + std::to_string(t) + " --> \r";
        entry.append(size, static_cast<char>('a' + t));
        console.log(std::move(entry));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string text = capture.Finish();

  std::size_t entries = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string entry = text.substr(start, end - start);
    const char fill = entry.back();
    const std::string expected =
        "entry " + std::to_string(fill - 'a') + " --> \r" + std::string(size, fill);
    EXPECT_EQ(entry, expected);
    ++entries;
    start = end + 1;
  }
  EXPECT_EQ(entries, 60u);
}

TEST(HeadlessConsole, ClosedOutputLosesEntriesQuietly) {
  HeadlessConsole console(-1);
  console.log("nowhere to go");
  console.countModule();
  EXPECT_EQ(console.count(), 1);
}

}  // namespace
}  // namespace quelvar::host
