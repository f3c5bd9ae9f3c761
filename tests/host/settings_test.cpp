#include "host/settings.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace quelvar::host {
namespace {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quelvar-host-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const std::filesystem::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

TEST(IniFile, Get) {
  struct Case {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    std::optional<std::string> value;
  };
  const std::vector<Case> cases = {
      {"plain", "[INDICE]\nPorta=7780\n", "INDICE", "Porta", "7780"},
      {"names in any case", "[indice]\nPORTA=7780\n", "INDICE", "Porta", "7780"},
      {"blanks around", "  [ INDICE ]  \n  Porta  =  7780  \n", "INDICE", "Porta", "7780"},
      {"CRLF", "[INDICE]\r\nLocalQuelvarDB=/d/q.db3\r\nPorta=1\r\n", "INDICE", "LocalQuelvarDB", "/d/q.db3"},
      {"no final line break", "[INDICE]\nPorta=12", "INDICE", "Porta", "12"},
      {"byte-order mark", "\xEF\xBB\xBF[INDICE]\nPorta=5\n", "INDICE", "Porta", "5"},
      {"value with equals sign", "[INDICE]\nLocalQuelvarDB=/a=b/c.db3\n", "INDICE", "LocalQuelvarDB", "/a=b/c.db3"},
      {"quotes kept", "[INDICE]\nLocalQuelvarDB=\"/a b.db3\"\n", "INDICE", "LocalQuelvarDB", "\"/a b.db3\""},
      {"empty value", "[INDICE]\nPorta=\n", "INDICE", "Porta", ""},
      {"first key wins", "[INDICE]\nPorta=1\nPorta=2\n", "INDICE", "Porta", "1"},
      {"first section wins", "[INDICE]\nPorta=1\n[INDICE]\nPorta=2\n", "INDICE", "Porta", "1"},
      {"later section of the same name", "[INDICE]\nX=1\n[INDICE]\nPorta=2\n", "INDICE", "Porta", "2"},
      {"key in another section", "[OUTRO]\nPorta=1\n", "INDICE", "Porta", std::nullopt},
      {"key before any section", "Porta=1\n[INDICE]\n", "INDICE", "Porta", std::nullopt},
      {"comment lines", "[INDICE]\n;Porta=1\n#Porta=2\nPorta=3\n", "INDICE", "Porta", "3"},
      {"missing key", "[INDICE]\nLocalQuelvarDB=x\n", "INDICE", "Porta", std::nullopt},
      {"empty text", "", "INDICE", "Porta", std::nullopt},
      {"line without equals sign", "[INDICE]\nPorta\nPorta=4\n", "INDICE", "Porta", "4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IniFile::FromText(c.text).Get(c.section, c.key), c.value);
  }
}

TEST(IniFile, Set) {
  struct Case {
    const char* name;
    std::string before;
    std::string after;
  };
  const std::vector<Case> cases = {
      {"empty file", "", "[INDICE]\nPorta=9000\n"},
      {"replaces the value", "[INDICE]\nporta=1\n", "[INDICE]\nPorta=9000\n"},
      {"appends to the section", "[INDICE]\nLocalQuelvarDB=x\n\n[OUTRO]\nA=1\n",
       "[INDICE]\nLocalQuelvarDB=x\nPorta=9000\n\n[OUTRO]\nA=1\n"},
      {"adds the section", "[OUTRO]\nA=1\n", "[OUTRO]\nA=1\n\n[INDICE]\nPorta=9000\n"},
      {"keeps CRLF", "[INDICE]\r\nPorta=1\r\n; note\r\n", "[INDICE]\r\nPorta=9000\r\n; note\r\n"},
      {"keeps other lines", "; head\n[indice]\nX = y\nPorta = 1\n", "; head\n[indice]\nX = y\nPorta=9000\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    IniFile ini = IniFile::FromText(c.before);
    ini.Set("INDICE", "Porta", "9000");
    EXPECT_EQ(ini.Text(), c.after);
  }
}

TEST(PortFromText, DecimalIntegerOrZero) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"7780", 7780}, {"0", 0},         {"007780", 7780},      {"+80", 80},          {"-1", -1},
      {"abc", 0},     {"", 0},          {"7780x", 0},          {"0x1E6C", 0},        {"$1E6C", 0},
      {"77 80", 0},   {"-", 0},         {"2147483647", 2147483647}, {"2147483648", 0}, {"-2147483648", -2147483647 - 1},
      {"99999999999999999999", 0},
  };
  for (const auto& [text, port] : cases) EXPECT_EQ(PortFromText(text), port) << text;
}

TEST(IsServicePort, OneTo65535) {
  const std::pair<int, bool> cases[] = {{1, true},     {7780, true},  {65535, true}, {0, false},
                                        {-1, false},   {65536, false}, {9001, true}};
  for (const auto& [port, usable] : cases) EXPECT_EQ(IsServicePort(port), usable) << port;
}

TEST(DatabaseFileFor, RelativePathsAreTakenFromTheProgramFolder) {
  const std::tuple<const char*, const char*> cases[] = {
      {"QuelvarDB.db3", "/opt/q/QuelvarDB.db3"},
      {"dados/Loja.db3", "/opt/q/dados/Loja.db3"},
      {"../dados/Loja.db3", "/opt/q/../dados/Loja.db3"},
      {"/srv/Loja.db3", "/srv/Loja.db3"},
      {"", ""},
  };
  for (const auto& [configured, file] : cases) EXPECT_EQ(DatabaseFileFor("/opt/q", configured), file) << configured;
}

TEST(FolderText, EndsInASeparator) {
  EXPECT_EQ(FolderText("/opt/q"), "/opt/q/");
  EXPECT_EQ(FolderText("/opt/q/"), "/opt/q/");
  EXPECT_EQ(FolderText("/"), "/");
}

TEST(ProgramFolder, IsTheFolderOfThisExecutable) {
  const auto folder = ProgramFolder();
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::equivalent(folder / std::filesystem::read_symlink("/proc/self/exe").filename(),
                                          "/proc/self/exe"));
}

TEST(ReadStartupSettings, MissingFileIsWrittenWithDefaultsAndValuesStayCleared) {
  TempFolder folder;
  const StartupSettings settings = ReadStartupSettings(folder.path());
  EXPECT_TRUE(settings.createdDefaults);
  EXPECT_EQ(settings.values.localDb, "");
  EXPECT_EQ(settings.values.port, 0);
  EXPECT_EQ(ReadText(folder.path() / "Config1.ini"),
            "[INDICE]\nLocalQuelvarDB=" + FolderText(folder.path()) + "QuelvarDB.db3\nPorta=7780\n");

  // The next start reads what was written.
  const StartupSettings next = ReadStartupSettings(folder.path());
  EXPECT_FALSE(next.createdDefaults);
  EXPECT_EQ(next.values.localDb, FolderText(folder.path()) + "QuelvarDB.db3");
  EXPECT_EQ(next.values.port, 7780);
}

TEST(ReadStartupSettings, ExistingFile) {
  struct Case {
    const char* name;
    std::string text;
    std::string localDb;
    int port;
  };
  const std::vector<Case> cases = {
      {"both keys", "[INDICE]\r\nLocalQuelvarDB=/srv/q.db3\r\nPorta=8040\r\n", "/srv/q.db3", 8040},
      {"no database key", "[INDICE]\nPorta=8040\n", "", 8040},
      {"non-numeric port", "[INDICE]\nLocalQuelvarDB=/q.db3\nPorta=abc\n", "/q.db3", 0},
      {"no port key", "[INDICE]\nLocalQuelvarDB=/q.db3\n", "/q.db3", 0},
      {"empty file", "", "", 0},
      {"other section only", "[OUTRO]\nLocalQuelvarDB=/q.db3\nPorta=1\n", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    WriteText(folder.path() / "Config1.ini", c.text);
    const StartupSettings settings = ReadStartupSettings(folder.path());
    EXPECT_FALSE(settings.createdDefaults);
    EXPECT_EQ(settings.values.localDb, c.localDb);
    EXPECT_EQ(settings.values.port, c.port);
    EXPECT_EQ(ReadText(folder.path() / "Config1.ini"), c.text);  // reading changes nothing
  }
}

TEST(WriteDefaultSettingsIfMissing, OnlyWhenMissing) {
  TempFolder folder;
  WriteText(folder.path() / "Config1.ini", "[INDICE]\nPorta=1\n");
  EXPECT_FALSE(WriteDefaultSettingsIfMissing(folder.path()));
  EXPECT_EQ(ReadText(folder.path() / "Config1.ini"), "[INDICE]\nPorta=1\n");
}

TEST(SaveSettings, WritesBothKeysAndKeepsTheRest) {
  TempFolder folder;
  WriteText(folder.path() / "Config1.ini", "; configuration\r\n[INDICE]\r\nPorta=1\r\n[OUTRO]\r\nA=1\r\n");
  SaveSettings(folder.path(), "/new/q.db3", "9000");
  EXPECT_EQ(ReadText(folder.path() / "Config1.ini"),
            "; configuration\r\n[INDICE]\r\nPorta=9000\r\nLocalQuelvarDB=/new/q.db3\r\n[OUTRO]\r\nA=1\r\n");
}

TEST(SaveSettings, UnwritableFolderRaisesWithTheFileName) {
  try {
    SaveSettings("/nonexistent-folder", "/q.db3", "1");
    FAIL() << "no error";
  } catch (const std::runtime_error& failure) {
    EXPECT_NE(std::string(failure.what()).find("/nonexistent-folder/Config1.ini"), std::string::npos);
  }
}

}  // namespace
}  // namespace quelvar::host
