// The generic dispatch: option selection, the failure path and its log entries.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "data/tdm.h"
#include "formats/errors.h"
#include "inventory/dispatch.h"

namespace quelvar::inventory {
namespace {

class RecordingConsole final : public OperatorConsole {
 public:
  void countModule() override {}
  void log(std::string entry) override {
    std::lock_guard lock(mutex_);
    entries.push_back(std::move(entry));
  }
  std::vector<std::string> entries;

 private:
  std::mutex mutex_;
};

class Dispatch : public ::testing::Test {
 protected:
  RecordingConsole console;
  // A path whose folder does not exist: every statement fails to connect.
  TDM dm{console, std::make_shared<DatabasePath>("/nonexistent-folder/QuelvarDB.db3"),
         std::filesystem::temp_directory_path()};

  TJSONParam& Declare(TDWParams& params, std::string_view name, TObjectDirection dir, TObjectValue type) {
    TJSONParam& p = params.AddNew();
    p.SetParamName(name);
    p.SetDirection(dir);
    p.SetValueType(type);
    return p;
  }
};

TEST_F(Dispatch, QueryFailureAnswersEmptyTextAndLogsOnce) {
  EXPECT_TRUE(Consulta(dm, "ConsultaConfig", "", false, "", "").Empty());
  ASSERT_EQ(console.entries.size(), 1u);
  EXPECT_EQ(console.entries[0].rfind("ConsultaConfig --> \r[SQLite] ", 0), 0u) << console.entries[0];
}

TEST_F(Dispatch, SaveFailuresAnswerTheFailureText) {
  // Not dataset JSON: the decoding error takes the failure path before any procedure.
  const std::string answer = Grava(dm, "GravaConfig", "{\"a\":[", "");
  EXPECT_EQ(answer.rfind("Ocorreu um erro na gravação no banco de dados.\r", 0), 0u);
  ASSERT_EQ(console.entries.size(), 1u);
  EXPECT_EQ(console.entries[0].rfind("GravaConfig --> \r", 0), 0u);
  EXPECT_EQ(answer.substr(answer.find('\r') + 1), console.entries[0].substr(console.entries[0].find('\r') + 1));
}

TEST_F(Dispatch, DeleteFlagsOutsideTheTableAnswerWithoutLogging) {
  for (int flag : {2, 3, 11, 13, 15, 17, 0, -1, 19, 100}) {
    TDWParams params;
    Declare(params, "Flag", TObjectDirection::odIN, TObjectValue::ovInteger).SetAsInteger(flag);
    Declare(params, "NumUsuario", TObjectDirection::odIN, TObjectValue::ovInteger).SetAsInteger(1);
    Declare(params, "Resposta", TObjectDirection::odOUT, TObjectValue::ovString).SetEncoded(true);
    std::string result = "untouched";
    DWServerEvents_Exclui(dm, params, result);
    EXPECT_EQ(params.Item("Resposta").GetAsString(), kNoDeleteAlternative) << flag;
    EXPECT_EQ(result, "untouched");
  }
  EXPECT_TRUE(console.entries.empty());
}

TEST_F(Dispatch, DeleteFailuresAnswerTheMessageAndLogWithoutCarriageReturn) {
  TDWParams params;  // no "Flag" at all
  Declare(params, "Resposta", TObjectDirection::odOUT, TObjectValue::ovString).SetEncoded(true);
  std::string result;
  DWServerEvents_Exclui(dm, params, result);
  EXPECT_EQ(params.Item("Resposta").GetAsString(), "Invalid DWParam");
  ASSERT_EQ(console.entries.size(), 1u);
  EXPECT_EQ(console.entries[0], "Exclui --> Invalid DWParam");
}

TEST_F(Dispatch, UnknownOptionsGoThroughTheFailurePath) {
  EXPECT_TRUE(Consulta(dm, "ConsultaNada", "", false, "", "").Empty());
  const std::string answer = Grava(dm, "GravaNada",
                                   R"({"ObjectType":"toDataset", "Direction":"odINOUT", "Encoded":"true", "ValueType":"ovDataSet", "temp":[{"fields":[], "buildside":"D"}, {"lines":[]}]})",
                                   "");
  EXPECT_EQ(answer.rfind("Ocorreu um erro na gravação no banco de dados.\r", 0), 0u);
  ASSERT_EQ(console.entries.size(), 2u);
  EXPECT_EQ(console.entries[0].rfind("ConsultaNada --> \r", 0), 0u);
  EXPECT_EQ(console.entries[1].rfind("GravaNada --> \r", 0), 0u);
}

MemTable& FailingProcedure(TDM&, const QueryArgs& args) { throw Error("recusado: " + args.pFiltro); }

TEST_F(Dispatch, AProcedureHandedInTakesTheSamePathUnderItsName) {
  // The free query of the floor above takes this path; its name is not an option of the table.
  EXPECT_TRUE(ConsultaPor(dm, "QueryDinamica", FailingProcedure, {"Select 1", false, "", ""}).Empty());
  EXPECT_TRUE(ConsultaPor(dm, "QueryDinamica", nullptr, {}).Empty());
  EXPECT_TRUE(Consulta(dm, "QueryDinamica", "Select 1", false, "", "").Empty());
  ASSERT_EQ(console.entries.size(), 3u);
  EXPECT_EQ(console.entries[0], "QueryDinamica --> \rrecusado: Select 1");
  EXPECT_EQ(console.entries[1], "QueryDinamica --> \rOpção desconhecida no servidor: QueryDinamica");
  EXPECT_EQ(console.entries[2], console.entries[1]);
}

}  // namespace
}  // namespace quelvar::inventory
