#include "host/headless_console.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <regex>
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

TEST(HeadlessConsole, EntriesAreStampedLevelledAndBrokenAtTheirLineBreaks) {
  PipeCapture capture;
  HeadlessConsole console(capture.writer(), LogStyle{});
  console.log("ConsultaUsuario --> \rno such table: T01_USUA");
  console.log("Backup MSG: \r");
  console.Write(LogLevel::Warning, "two\r\nlines");
  const std::string text = capture.Finish();
  const std::string stamp = R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}[+-]\d{2}:\d{2})";
  EXPECT_TRUE(std::regex_match(text, std::regex(stamp + " ERROR ConsultaUsuario --> \n    no such table: T01_USUA\n" +
                                                stamp + " INFO Backup MSG: \n    \n" +
                                                stamp + " WARNING two\n    lines\n")))
      << text;
}

TEST(HeadlessConsole, JournalStreamGetsPriorityPrefixesOnEveryLine) {
  PipeCapture capture;
  struct stat status {};
  ASSERT_EQ(::fstat(capture.writer(), &status), 0);
  const std::string stream = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
  struct Case {
    const char* journalStream;  // nullptr: unset
    bool journal;
  };
  const Case cases[] = {{stream.c_str(), true}, {"1:2", false}, {"garbage", false}, {nullptr, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.journalStream ? c.journalStream : "(unset)");
    if (c.journalStream != nullptr) {
      ::setenv("JOURNAL_STREAM", c.journalStream, 1);
    } else {
      ::unsetenv("JOURNAL_STREAM");
    }
    EXPECT_EQ(IsJournalStream(capture.writer()), c.journal);
  }
  ::setenv("JOURNAL_STREAM", stream.c_str(), 1);
  HeadlessConsole console(capture.writer());  // the style follows the descriptor
  ::unsetenv("JOURNAL_STREAM");
  console.log("Restore --> \rOcorreu um erro.\rMensagem original: x");
  console.log("Validate MSG: \rrow 3 missing");
  console.Write(LogLevel::Info, "started");
  EXPECT_EQ(capture.Finish(),
            "<3>ERROR Restore --> \n<3>    Ocorreu um erro.\n<3>    Mensagem original: x\n"
            "<4>WARNING Validate MSG: \n<4>    row 3 missing\n"
            "<6>INFO started\n");
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
  HeadlessConsole console(capture.writer(), LogStyle{.journal = true});
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

  // Each entry is two lines: its head, then its continuation.
  std::size_t entries = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto headEnd = text.find('\n', start);
    ASSERT_NE(headEnd, std::string::npos);
    const auto end = text.find('\n', headEnd + 1);
    ASSERT_NE(end, std::string::npos);
    const std::string entry = text.substr(start, end - start);
    const char fill = entry.back();
    const std::string expected =
        "<3>ERROR entry " + std::to_string(fill - 'a') + " --> \n<3>    " + std::string(size, fill);
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

namespace quelvar::host {
namespace {

TEST(LogFormat, TimeStampIsLocalWithMillisecondsAndOffset) {
  struct Case {
    const char* tz;
    std::timespec when;
    const char* expected;
  };
  const Case cases[] = {
      {"UTC0", {0, 5'000'000}, "1970-01-01T00:00:00.005+00:00"},
      {"<-03>3", {0, 999'999'999}, "1969-12-31T21:00:00.999-03:00"},
      {"<+0530>-5:30", {1796860800, 0}, "2026-12-10T05:30:00.000+05:30"},
  };
  const char* saved = std::getenv("TZ");
  const std::string restore = saved ? saved : "";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz);
    ::setenv("TZ", c.tz, 1);
    ::tzset();
    EXPECT_EQ(LocalTimeStamp(c.when), c.expected);
  }
  if (saved) {
    ::setenv("TZ", restore.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

TEST(LogFormat, LevelsOfTheEntriesTheServerWrites) {
  const std::pair<const char*, LogLevel> cases[] = {
      {"ConsultaMaterial --> \rno such table", LogLevel::Error},
      {"Exclui --> Este lote está sendo utilizado", LogLevel::Error},
      {"Backup Error --> \rdisk full", LogLevel::Error},
      {"Validate MSG: \rrow 3 missing from index", LogLevel::Warning},
      {"Backup MSG: \r", LogLevel::Info},
      {"AtualizaServidor MSG: \rAtualizado", LogLevel::Info},
      {"QueryDinamica MSG: \rValores que o tipo do campo não comporta ficaram vazios: X (1)", LogLevel::Warning},
      {"ConsultaMaterial MSG: \rValores que o tipo do campo não comporta ficaram vazios: T04_Peso (2)",
       LogLevel::Warning},
      {"", LogLevel::Info},
  };
  for (const auto& [entry, level] : cases) {
    SCOPED_TRACE(entry);
    EXPECT_EQ(LevelOfEntry(entry), level);
  }
}

TEST(LogFormat, EveryKindOfLineBreakStartsAnIndentedLine) {
  const std::timespec when{0, 0};
  const LogStyle journal{.journal = true};
  const std::pair<const char*, const char*> cases[] = {
      {"a\rb", "<6>INFO a\n<6>    b\n"},
      {"a\r\nb", "<6>INFO a\n<6>    b\n"},
      {"a\nb", "<6>INFO a\n<6>    b\n"},
      {"a\r\rb", "<6>INFO a\n<6>    \n<6>    b\n"},
      {"a\r", "<6>INFO a\n<6>    \n"},
      {"", "<6>INFO\n"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(FormatLogEntry(LogLevel::Info, text, when, journal), expected);
  }
}

}  // namespace
}  // namespace quelvar::host
