// Request intake: where the event name, the group name, the parameters and
// the flags come from, for every request form.

#include "service/request_intake.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/base64.h"
#include "formats/json_text.h"
#include "formats/param_block.h"
#include "service/reserved_names.h"
#include "service/url_text.h"
#include "service_test_support.h"

namespace quelvar::service {
namespace {

using test::ClientHeaders;
using test::GroupHolderText;
using test::MakeRequest;
using test::MultipartContentType;
using test::MultipartOf;
using test::ParamText;
using test::PercentEncodeForTest;

IntakeSettings Settings() {
  IntakeSettings settings;
  settings.encoding = TEncodeSelect::esASCII;
  settings.cipher.key = "chave-de-teste";
  return settings;
}

HeaderList WithClientHeaders(HeaderList extra) {
  HeaderList headers = ClientHeaders();
  for (auto& h : extra) headers.push_back(std::move(h));
  return headers;
}

HttpRequest MultipartPost(std::string_view target, const std::vector<std::pair<std::string, std::string>>& fields,
                          HeaderList extraHeaders = {}) {
  HeaderList headers = WithClientHeaders(std::move(extraHeaders));
  headers.emplace_back("Content-Type", MultipartContentType());
  return MakeRequest("POST", target, std::move(headers), MultipartOf(fields));
}

// The names of the parameters, in list order, as stored.
std::vector<std::string> NamesOf(const TDWParams& params) {
  std::vector<std::string> names;
  for (int i = 0; i < params.Count(); ++i) names.push_back(params.GetRec(i)->ParamName());
  return names;
}

int CountNamed(const TDWParams& params, std::string_view name) {
  int n = 0;
  for (int i = 0; i < params.Count(); ++i) n += EqualsIgnoreCase(params.GetRec(i)->ParamName(), name) ? 1 : 0;
  return n;
}

// ---------------------------------------------------------------- the path

TEST(PathRule, LastSegmentIsTheEventAndTheOneBeforeTheGroup) {
  struct Case {
    std::string path, group, event;
  };
  const std::vector<Case> cases = {
      {"/DWServerEventsT04_MATE/Consulta", "DWServerEventsT04_MATE", "Consulta"},
      {"/Consulta", "", "Consulta"},
      {"/", "", ""},
      {"", "", ""},
      {"/DWServerEventsT04_MATE/Consulta/", "DWServerEventsT04_MATE", "Consulta"},
      {"/ignored/more/G/E", "G", "E"},
      {"/TDM.DWServerEventsT01_USUA/Grava", "TDM.DWServerEventsT01_USUA", "Grava"},
      {"/G%20x/E%20y", "G%20x", "E%20y"},  // not percent-decoded
      {"/Sobre/", "", "Sobre"},
  };
  for (const Case& c : cases) {
    const PathNames names = NamesOfPath(c.path);
    EXPECT_EQ(names.group, c.group) << c.path;
    EXPECT_EQ(names.event, c.event) << c.path;
  }
}

// ------------------------------------------- the edge cases, request by request

struct IntakeCase {
  std::string label;
  std::function<HttpRequest()> request;
  std::function<void(const IntakeOutcome&)> check;
};

class IntakeTable : public ::testing::TestWithParam<IntakeCase> {};

TEST_P(IntakeTable, YieldsTheExpectedOutcome) {
  const IntakeCase& c = GetParam();
  const IntakeOutcome outcome = ReadRequestParams(c.request(), Settings());
  ASSERT_NE(outcome.params, nullptr);
  c.check(outcome);
}

const std::vector<std::pair<std::string, std::string>> kConsultaFields = {
    {"Filtro", ParamText("FILTRO", "odIN", "A")},
    {"Tabela", "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", "
               "\"ValueType\":\"ovString\", \"TABELA\":null}"},
    {"Desativados", "{\"ObjectType\":\"toParam\", \"Direction\":\"odIN\", \"Encoded\":\"false\", "
                    "\"ValueType\":\"ovBoolean\", \"DESATIVADOS\":true}"},
};

std::vector<std::pair<std::string, std::string>> WithFields(std::vector<std::pair<std::string, std::string>> first,
                                                            const std::vector<std::pair<std::string, std::string>>& rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, IntakeTable,
    ::testing::Values(
        IntakeCase{"worked_example_group_field_with_module_prefix",
                   [] {
                     return MultipartPost("/Consulta",
                                          WithFields({{"dwservereventname", GroupHolderText("TDM.DWServerEventsT04_MATE")},
                                                      {"datacompression", "false"},
                                                      {"dwassyncexec", "false"},
                                                      {"dwencodestrings", "true"},
                                                      {"binaryrequest", "false"}},
                                                     kConsultaFields));
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.eventName, "Consulta");
                     EXPECT_EQ(o.groupName, "DWServerEventsT04_MATE");
                     EXPECT_EQ(NamesOf(*o.params),
                               (std::vector<std::string>{"HOST", "AUTHORIZATION", "CONTENT-TYPE", "FILTRO", "TABELA",
                                                         "DESATIVADOS"}));
                     EXPECT_EQ(o.params->Item("Filtro").GetAsString(), "A");
                     EXPECT_EQ(o.params->Item("Tabela").Direction(), TObjectDirection::odOUT);
                     EXPECT_TRUE(o.params->Item("Desativados").GetAsBoolean());
                     EXPECT_TRUE(o.flags.encodeStrings);
                     EXPECT_FALSE(o.flags.compression);
                     EXPECT_FALSE(o.flags.asynchronous);
                     EXPECT_FALSE(o.flags.binary);
                   }},
        IntakeCase{"field_that_is_no_parameter_text_keeps_no_value",
                   [] {
                     return MultipartPost("/Consulta", {{"Filtro", "Alpha"},
                                                        {"Tabela", "  \r\n" + ParamText("TABELA", "odOUT", "B")},
                                                        {"Desativados", "[true]"}});
                   },
                   [](const IntakeOutcome& o) {
                     ASSERT_NE(o.params->GetRecName("Filtro"), nullptr);
                     EXPECT_TRUE(o.params->Item("Filtro").IsNull());
                     EXPECT_EQ(o.params->Item("Filtro").GetAsString(), "");
                     EXPECT_EQ(o.params->Item("Filtro").Direction(), TObjectDirection::odIN);
                     // Blanks before a parameter text make it no parameter text either.
                     ASSERT_NE(o.params->GetRecName("Tabela"), nullptr);
                     EXPECT_TRUE(o.params->Item("Tabela").IsNull());
                     EXPECT_EQ(o.params->Item("Tabela").Direction(), TObjectDirection::odIN);
                     EXPECT_TRUE(o.params->Item("Desativados").IsNull());
                   }},
        IntakeCase{"group_field_without_prefix",
                   [] { return MultipartPost("/Consulta", {{"dwservereventname", GroupHolderText("DWServerEventsT01_USUA")}}); },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.groupName, "DWServerEventsT01_USUA");
                     EXPECT_EQ(o.eventName, "Consulta");
                   }},
        IntakeCase{"group_field_is_read_after_the_path",
                   [] {
                     return MultipartPost("/DWServerEventsT01_USUA/Consulta",
                                          {{"dwservereventname", GroupHolderText("TDM.DWServerEventsT04_MATE")}});
                   },
                   [](const IntakeOutcome& o) { EXPECT_EQ(o.groupName, "DWServerEventsT04_MATE"); }},
        IntakeCase{"bare_group_name_in_the_field_clears_the_group",
                   [] {
                     return MultipartPost("/DWServerEventsT04_MATE/Consulta",
                                          {{"dwservereventname", "DWServerEventsT04_MATE"}});
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.groupName, "");
                     EXPECT_EQ(o.eventName, "Consulta");
                   }},
        IntakeCase{"header_parameter_wins_over_a_later_field",
                   [] {
                     return MultipartPost("/DWServerEventsT04_MATE/Consulta", {{"Filtro", ParamText("FILTRO", "odIN", "do corpo")}},
                                          {{"Filtro", "do cabeçalho"}});
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(CountNamed(*o.params, "FILTRO"), 2);
                     EXPECT_EQ(o.params->Item("Filtro").GetAsString(), "do cabeçalho");
                   }},
        IntakeCase{"field_name_is_stored_upper_case_and_found_in_any_case",
                   [] { return MultipartPost("/Grava", {{"Tabela", ParamText("qualquer", "odIN", "{}")}}); },
                   [](const IntakeOutcome& o) {
                     ASSERT_NE(o.params->GetRecName("Tabela"), nullptr);
                     EXPECT_EQ(o.params->GetRecName("Tabela")->ParamName(), "TABELA");
                     EXPECT_EQ(o.params->Item("tabela").GetAsString(), "{}");
                   }},
        IntakeCase{"get_without_query_has_header_parameters_only",
                   [] { return MakeRequest("GET", "/DWServerEventsT03_CONF/ServerTime", ClientHeaders()); },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.groupName, "DWServerEventsT03_CONF");
                     EXPECT_EQ(o.eventName, "ServerTime");
                     EXPECT_EQ(NamesOf(*o.params), (std::vector<std::string>{"HOST", "AUTHORIZATION"}));
                     EXPECT_EQ(o.params->Item("Host").GetAsString(), "127.0.0.1:8082");
                     EXPECT_EQ(o.params->Item("Host").Direction(), TObjectDirection::odIN);
                   }},
        IntakeCase{"header_merely_containing_binaryrequest_sets_the_flag",
                   [] {
                     return MakeRequest("GET", "/Sobre", WithClientHeaders({{"x-binaryrequest-mode", " TRUE "}}));
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_TRUE(o.flags.binary);
                     EXPECT_EQ(o.params->GetRecName("x-binaryrequest-mode"), nullptr);
                   }},
        IntakeCase{"plain_json_body_without_query_is_undefined",
                   [] {
                     return MakeRequest("POST", "/DWServerEventsT04_MATE/Grava",
                                        WithClientHeaders({{"Content-Type", "application/json"}}),
                                        "{\"a\": [1, 2]}");
                   },
                   [](const IntakeOutcome& o) {
                     ASSERT_NE(o.params->GetRecName("undefined"), nullptr);
                     EXPECT_EQ(o.params->Item("UNDEFINED").ParamName(), "UNDEFINED");
                     EXPECT_EQ(o.params->Item("UNDEFINED").GetAsString(), "{\"a\": [1, 2]}");
                   }},
        IntakeCase{"patch_body_is_ignored",
                   [] {
                     return MakeRequest("PATCH", "/Sobre?Filtro=q",
                                        WithClientHeaders({{"Content-Type", MultipartContentType()}}),
                                        MultipartOf({{"Tabela", ParamText("TABELA", "odIN", "x")}}));
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.params->GetRecName("Tabela"), nullptr);
                     EXPECT_EQ(o.params->Item("Filtro").GetAsString(), "q");
                   }},
        IntakeCase{"header_group_name_is_cut_after_its_first_dot",
                   [] {
                     // Header before any ordinary header: the path step that follows clears it.
                     HeaderList headers = ClientHeaders();
                     headers.emplace_back("dwservereventname", GroupHolderText("TDM.DWServerEventsT05_LOTE"));
                     return MakeRequest("GET", "/Consulta", std::move(headers));
                   },
                   [](const IntakeOutcome& o) { EXPECT_EQ(o.groupName, "DWServerEventsT05_LOTE"); }},
        IntakeCase{"header_group_name_before_the_first_ordinary_header_is_lost",
                   [] {
                     HeaderList headers = {{"dwservereventname", GroupHolderText("DWServerEventsT05_LOTE")}};
                     for (auto& h : ClientHeaders()) headers.push_back(h);
                     return MakeRequest("GET", "/Consulta", std::move(headers));
                   },
                   [](const IntakeOutcome& o) { EXPECT_EQ(o.groupName, ""); }},
        IntakeCase{"reserved_headers_set_items_and_are_not_parameters",
                   [] {
                     return MakeRequest("GET", "/Sobre",
                                        WithClientHeaders({{"dwwelcomemessage", EncodeText("Olá")},
                                                           {"DWAccessTag", EncodeText("tag")},
                                                           {"DataCompression", "True"},
                                                           {"dwassyncexec", "yes"},
                                                           {"dwusecript", "true"}}));
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.welcomeMessage, "Olá");
                     EXPECT_EQ(o.accessTag, "tag");
                     EXPECT_TRUE(o.flags.compression);
                     EXPECT_FALSE(o.flags.asynchronous);
                     EXPECT_TRUE(o.flags.encryptedParams);
                     EXPECT_EQ(o.params->Count(), 2);
                   }},
        IntakeCase{"header_holding_a_parameter_text_is_read_as_one",
                   [] {
                     return MakeRequest("GET", "/Sobre", WithClientHeaders({{"X-Param", ParamText("Resposta", "odOUT", "v")}}));
                   },
                   [](const IntakeOutcome& o) {
                     const TJSONParam& p = o.params->Item("resposta");
                     EXPECT_EQ(p.ParamName(), "resposta");
                     EXPECT_EQ(p.Direction(), TObjectDirection::odOUT);
                     EXPECT_EQ(p.GetAsString(), "v");
                     EXPECT_EQ(o.params->GetRecName("X-Param"), nullptr);
                   }},
        IntakeCase{"query_entries_become_input_parameters",
                   [] {
                     return MakeRequest("GET", "/DWServerEventsT04_MATE/Consulta?Filtro=%20S%C3%A3o+Jo%C3%A3o%20&dwmark:x=1&Vazio=&"
                                               "Duplo=%2541",
                                        ClientHeaders());
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.params->Item("Filtro").GetAsString(), "São João");
                     EXPECT_EQ(o.params->Item("Filtro").Direction(), TObjectDirection::odIN);
                     EXPECT_EQ(o.params->GetRecName("dwmark:x"), nullptr);
                     EXPECT_FALSE(o.params->Item("Vazio").Encoded());
                     EXPECT_TRUE(o.params->Item("Vazio").IsNull());
                     EXPECT_EQ(o.params->Item("Duplo").GetAsString(), "A");  // decoded twice
                     EXPECT_EQ(CountNamed(*o.params, "FILTRO"), 1);
                   }},
        IntakeCase{"query_parameter_text_keeps_its_lower_case_name",
                   [] {
                     return MakeRequest("GET", "/Sobre?Resposta=" + PercentEncodeForTest(ParamText("RESPOSTA", "odOUT", "x")),
                                        ClientHeaders());
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.params->Item("Resposta").ParamName(), "resposta");
                     EXPECT_EQ(o.params->Item("Resposta").Direction(), TObjectDirection::odOUT);
                   }},
        IntakeCase{"get_query_reserved_names_are_read_and_stay",
                   [] {
                     const std::string group = EncodeText(GroupHolderText("TDM.DWServerEventsT06_GRUP"));
                     return MakeRequest("GET",
                                        "/Consulta?dwservereventname=" + PercentEncodeForTest(group) +
                                            "&datacompression=true&dwencodestrings=false&dwwelcomemessage=" +
                                            PercentEncodeForTest(EncodeText("oi")),
                                        ClientHeaders());
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.groupName, "TDM.DWServerEventsT06_GRUP");  // taken whole
                     EXPECT_TRUE(o.flags.compression);
                     EXPECT_FALSE(o.flags.encodeStrings);
                     EXPECT_EQ(o.welcomeMessage, "oi");
                     EXPECT_NE(o.params->GetRecName("dwencodestrings"), nullptr);
                   }},
        IntakeCase{"late_reads_set_asynchronous_and_binary_flags",
                   [] { return MakeRequest("GET", "/Sobre?dwassyncexec=true&BINARYREQUEST=1", ClientHeaders()); },
                   [](const IntakeOutcome& o) {
                     EXPECT_TRUE(o.flags.asynchronous);
                     EXPECT_TRUE(o.flags.binary);
                   }},
        IntakeCase{"url_encoded_form_fields_and_group_from_the_path",
                   [] {
                     return MakeRequest("POST", "/DWServerEventsT06%5FGRUP/Consulta?Filtro=a",
                                        WithClientHeaders({{"Content-Type", "application/x-www-form-urlencoded; charset=UTF-8"}}),
                                        "Desativados=true&Nome=Jos%C3%A9+Silva");
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.groupName, "DWServerEventsT06_GRUP");
                     EXPECT_EQ(o.eventName, "Consulta");
                     EXPECT_EQ(o.params->Item("Filtro").GetAsString(), "a");
                     EXPECT_EQ(o.params->Item("Nome").GetAsString(), "José Silva");
                     EXPECT_TRUE(o.params->Item("Desativados").GetAsBoolean());
                   }},
        IntakeCase{"url_encoded_form_without_group_in_the_path_keeps_the_earlier_group",
                   [] {
                     const std::string holder = GroupHolderText("TDM.DWServerEventsT07_CENC");
                     return MakeRequest("POST", "/Consulta",
                                        WithClientHeaders({{"Content-Type", "application/x-www-form-urlencoded"},
                                                           {"dwservereventname", holder}}),
                                        "Filtro=x");
                   },
                   [](const IntakeOutcome& o) { EXPECT_EQ(o.groupName, "DWServerEventsT07_CENC"); }},
        IntakeCase{"raw_body_taken_whole_under_the_named_parameter",
                   [] {
                     return MakeRequest("POST", "/Grava?dwReadBodyRaw=1&dwNameParamBody=Tabela",
                                        WithClientHeaders({{"Content-Type", "text/plain"}}), "linha 1\r\nlinha=2");
                   },
                   [](const IntakeOutcome& o) { EXPECT_EQ(o.params->Item("Tabela").GetAsString(), "linha 1\r\nlinha=2"); }},
        IntakeCase{"binary_body_kept_byte_for_byte_with_its_file_name",
                   [] {
                     return MakeRequest("POST", "/Grava?dwReadBodyBin=1&dwFileNameBody=foto.png",
                                        {{"Host", "h"}}, std::string("\x89PNG\r\n\x1A\n\x00\xFF", 10));
                   },
                   [](const IntakeOutcome& o) {
                     const TJSONParam& body = o.params->Item("UNDEFINED");
                     EXPECT_EQ(body.GetValue(TObjectValue::ovBlob).bytes(), std::string("\x89PNG\r\n\x1A\n\x00\xFF", 10));
                     EXPECT_EQ(o.params->Item("dwfilename").GetAsString(), "foto.png");
                     EXPECT_EQ(o.params->Item("Content-Type").GetAsString(), "image/png");
                   }},
        IntakeCase{"single_line_name_value_body_with_a_query",
                   [] {
                     return MakeRequest("POST", "/Grava?x=1", WithClientHeaders({{"Content-Type", "text/plain"}}),
                                        "a=1+2&b=%C3%A7&solto");
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.params->Item("a").GetAsString(), "1 2");
                     EXPECT_EQ(o.params->Item("b").GetAsString(), "ç");
                     EXPECT_EQ(o.params->Item("undefined").GetAsString(), "solto");
                   }},
        IntakeCase{"several_lines_of_name_value_with_a_query",
                   [] {
                     return MakeRequest("POST", "/Grava?x=1", WithClientHeaders({{"Content-Type", "text/plain"}}),
                                        "a=1\r\nsem igual\nb=2\n");
                   },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.params->Item("a").GetAsString(), "1");
                     EXPECT_EQ(o.params->Item("b").GetAsString(), "2");
                     EXPECT_EQ(o.params->GetRecName("undefined"), nullptr);
                   }},
        IntakeCase{"several_lines_of_json_with_a_byte_order_mark",
                   [] {
                     return MakeRequest("POST", "/Grava?x=1", WithClientHeaders({{"Content-Type", "text/plain"}}),
                                        "\xEF\xBB\xBF[1,\r\n2]\r\n");
                   },
                   [](const IntakeOutcome& o) { EXPECT_EQ(o.params->Item("UNDEFINED").GetAsString(), "[1,2]"); }},
        IntakeCase{"single_line_without_equals_adds_nothing",
                   [] { return MakeRequest("POST", "/Grava?x=1", ClientHeaders(), "nada aqui"); },
                   [](const IntakeOutcome& o) { EXPECT_EQ(NamesOf(*o.params), (std::vector<std::string>{"X", "HOST", "AUTHORIZATION"})); }},
        IntakeCase{"multipart_file_part_keeps_its_bytes_and_metadata",
                   [] {
                     HeaderList headers = WithClientHeaders({{"Content-Type", "multipart/form-data; boundary=\"b-1\""}});
                     const std::string body =
                         "--b-1\r\nContent-Disposition: form-data; name=\"Anexo\"; filename=\"a.bin\"\r\n"
                         "Content-Type: application/octet-stream\r\n\r\n" +
                         std::string("\x00\x01\xFE", 3) + "\r\n--b-1--\r\n";
                     return MakeRequest("POST", "/Grava", std::move(headers), body);
                   },
                   [](const IntakeOutcome& o) {
                     const TJSONParam& p = o.params->Item("Anexo");
                     EXPECT_EQ(p.vParamFileName, "a.bin");
                     EXPECT_EQ(p.vParamContentType, "application/octet-stream");
                     EXPECT_EQ(p.GetValue(TObjectValue::ovBlob).bytes(), std::string("\x00\x01\xFE", 3));
                   }},
        IntakeCase{"multipart_preamble_without_delimiter_gives_no_parts",
                   [] {
                     return MakeRequest("POST", "/Grava", WithClientHeaders({{"Content-Type", MultipartContentType()}}),
                                        "-- not a delimiter\r\nTabela=1\r\n");
                   },
                   [](const IntakeOutcome& o) { EXPECT_EQ(o.params->GetRecName("Tabela"), nullptr); }},
        IntakeCase{"cipher_switch_reaches_every_parameter",
                   [] { return MakeRequest("GET", "/Sobre?dwusecript=true&a=1", ClientHeaders()); },
                   [](const IntakeOutcome& o) {
                     EXPECT_TRUE(o.flags.encryptedParams);
                     for (int i = 0; i < o.params->Count(); ++i) {
                       EXPECT_TRUE(o.params->GetRec(i)->vCripto.use);
                       EXPECT_EQ(o.params->GetRec(i)->vCripto.key, "chave-de-teste");
                     }
                   }},
        IntakeCase{"no_ordinary_header_uses_the_url_rule",
                   [] { return MakeRequest("GET", "/G%5F1/Evento?a=%41&solto", {}); },
                   [](const IntakeOutcome& o) {
                     EXPECT_EQ(o.groupName, "G_1");
                     EXPECT_EQ(o.eventName, "Evento");
                     EXPECT_EQ(o.params->Item("a").GetAsString(), "A");
                     EXPECT_EQ(o.params->Item("undefined").GetAsString(), "solto");
                   }}),
    [](const ::testing::TestParamInfo<IntakeCase>& info) { return info.param.label; });

// ------------------------------------------------------------ binary requests

TEST(BinaryRequest, BlockInTheBinarydataPartIsLoadedWithItsFlags) {
  TDWParams sent;
  TJSONParam& filtro = sent.AddNew();
  filtro.SetParamName("Filtro");
  filtro.SetDirection(TObjectDirection::odIN);
  filtro.SetAsString("São João");
  TJSONParam& compress = sent.AddNew();
  compress.SetParamName("datacompression");
  compress.SetDirection(TObjectDirection::odIN);
  compress.SetAsString("true");
  const std::string block = SaveToStream(sent, TDWParamExpType::tdwpxt_All);

  HeaderList headers = WithClientHeaders({{"binaryrequest", "true"}, {"Content-Type", MultipartContentType()}});
  const HttpRequest request =
      MakeRequest("POST", "/DWServerEventsT04_MATE/Consulta", std::move(headers), MultipartOf({{"binarydata", block}}));
  const IntakeOutcome o = ReadRequestParams(request, Settings());
  EXPECT_TRUE(o.flags.binary);
  EXPECT_TRUE(o.flags.compression);
  EXPECT_EQ(o.params->Item("Filtro").GetAsString(), "São João");
}

TEST(BinaryRequest, RawBodyWithTheBinaryFlagIsReadAsMultipart) {
  TDWParams sent;
  TJSONParam& p = sent.AddNew();
  p.SetParamName("Lote");
  p.SetDirection(TObjectDirection::odIN);
  p.SetAsString("L-1");
  const std::string block = SaveToStream(sent, TDWParamExpType::tdwpxt_All);
  HeaderList headers = WithClientHeaders({{"binaryrequest", "true"}});
  const IntakeOutcome o = ReadRequestParams(
      MakeRequest("POST", "/Consulta", std::move(headers), MultipartOf({{"binarydata", block}})), Settings());
  EXPECT_EQ(o.params->Item("Lote").GetAsString(), "L-1");
}

TEST(BinaryRequest, BlockOfTheWrongLengthFails) {
  TDWParams sent;
  sent.AddNew().SetParamName("A");
  std::string block = SaveToStream(sent, TDWParamExpType::tdwpxt_All);
  block += "extra";
  HeaderList headers = WithClientHeaders({{"binaryrequest", "true"}, {"Content-Type", MultipartContentType()}});
  const HttpRequest request = MakeRequest("POST", "/Sobre", std::move(headers), MultipartOf({{"binarydata", block}}));
  try {
    ReadRequestParams(request, Settings());
    FAIL() << "a block of the wrong length was accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Invalid Stream...");
  }
}

// ------------------------------------------------------------------ failures

TEST(IntakeFailures, MalformedParameterTextFailsWithTheReadersMessage) {
  const std::vector<HttpRequest> requests = {
      MultipartPost("/Grava", {{"Tabela", "{\"ObjectType\":\"toParam\", \"Direction\":"}}),
      MakeRequest("GET", "/Sobre", WithClientHeaders({{"X-P", std::string(kParamJsonMarker) + "odIN\" ,,, {"}})),
      MultipartPost("/Consulta", {{"dwservereventname", "{\"a\":"}}),
  };
  for (const HttpRequest& request : requests) {
    EXPECT_THROW(ReadRequestParams(request, Settings()), json::JsonSyntaxError) << request.body;
  }
}

TEST(IntakeFailures, TruncatedMultipartPartFailsWithAClearMessage) {
  HeaderList headers = WithClientHeaders({{"Content-Type", MultipartContentType()}});
  std::string body = MultipartOf({{"Tabela", ParamText("TABELA", "odIN", "x")}});
  body.resize(body.size() - 30);
  try {
    ReadRequestParams(MakeRequest("POST", "/Grava", std::move(headers), body), Settings());
    FAIL() << "a truncated part was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Corpo multipart incompleto: a parte \"Tabela\" não termina com o delimitador.");
  }
}

}  // namespace
}  // namespace quelvar::service
