#include "service/request_intake.h"

#include <string_view>
#include <utility>
#include <vector>

#include "formats/base64.h"
#include "formats/errors.h"
#include "formats/json_value.h"
#include "formats/param_block.h"
#include "service/content_types.h"
#include "service/multipart_reader.h"
#include "service/reserved_names.h"
#include "service/url_text.h"

namespace quelvar::service {
namespace {

using enum TObjectDirection;

constexpr std::string_view kUndefinedName = "UNDEFINED";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

bool IsBodyMethod(RequestType type) { return type == RequestType::Post || type == RequestType::Put; }

// Lines of a text split at CR LF, LF or CR; a final line break does not open
// another line.
std::vector<std::string_view> LinesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string WithoutLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n') out += c;
  }
  return out;
}

class Intake {
 public:
  Intake(const HttpRequest& request, const IntakeSettings& settings) : request_(request), settings_(settings) {
    out_.params = std::make_unique<TDWParams>();
    out_.params->vEncoding = settings.encoding;
  }

  IntakeOutcome Run() {
    ReadHeaders();
    if (!pathAndQueryRead_) {
      // A request without any ordinary header: the URL rule stands in for the
      // path and query steps.
      std::string text = request_.path;
      if (!request_.query.empty()) text += "?" + request_.query;
      ReadByUrlRule(text, false);
      pathAndQueryRead_ = true;
    }
    ReadByMethod();
    LateReads();
    params().SetCriptOptions(out_.flags.encryptedParams, settings_.cipher.key);
    return std::move(out_);
  }

 private:
  TDWParams& params() { return *out_.params; }

  // A new input parameter named through the name setter.
  TJSONParam& AddInput(std::string_view name) {
    TJSONParam& param = params().AddNew();
    param.SetParamName(name);
    param.SetDirection(odIN);
    return param;
  }

  // The parameter "undefined" (created when absent) takes `value`.
  void SetUndefinedValue(std::string_view value) {
    TJSONParam* param = params().GetRecName(kUndefinedName);
    if (!param) param = &AddInput(kUndefinedName);
    param->SetAsString(value);
  }

  void ApplyReserved(ReservedName name, std::string_view value, bool groupAfterDot) {
    switch (name) {
      case ReservedName::WelcomeMessage: out_.welcomeMessage = DecodeText(value); break;
      case ReservedName::AccessTag: out_.accessTag = DecodeText(value); break;
      case ReservedName::DataCompression: out_.flags.compression = IsTrueText(value); break;
      case ReservedName::EncodeStrings: out_.flags.encodeStrings = IsTrueText(value); break;
      case ReservedName::UseCript: out_.flags.encryptedParams = IsTrueText(value); break;
      case ReservedName::AssyncExec: out_.flags.asynchronous = IsTrueText(value); break;
      case ReservedName::BinaryRequest: out_.flags.binary = IsTrueText(value); break;
      case ReservedName::ConnectionDefs: out_.connectionDefs = std::string(value); break;
      case ReservedName::ServerEventName: out_.groupName = ValueHolderText(value, groupAfterDot); break;
    }
  }

  // Step 1.
  void ReadHeaders() {
    for (const auto& [name, value] : request_.headers) {
      if (const auto reserved = FirstReservedIn(LowerAscii(name), HeaderTestOrder())) {
        ApplyReserved(*reserved, value, true);
        continue;
      }
      if (!pathAndQueryRead_) {
        ReadPath();
        ReadQueryEntries();
        pathAndQueryRead_ = true;
      }
      TJSONParam& param = AddInput(name);
      if (Contains(value, kParamJsonMarker)) {
        param.FromJSON(value);
      } else {
        param.SetAsString(value);
      }
    }
  }

  // Step 2.
  void ReadPath() {
    PathNames names = NamesOfPath(request_.path);
    out_.groupName = std::move(names.group);
    out_.eventName = std::move(names.event);
  }

  // Step 3: the query entries and, for a url-encoded form body, its fields.
  void ReadQueryEntries() {
    std::vector<std::string> entries = DecodedEntries(request_.query);
    if (IsBodyMethod(request_.requestType) && IsUrlEncodedForm(request_.contentType)) {
      for (std::string& field : DecodedEntries(request_.body)) entries.push_back(std::move(field));
    }
    queryEntryCount_ = entries.size();
    for (const std::string& entry : entries) AddQueryEntry(PercentDecode(entry));
  }

  void AddQueryEntry(std::string_view text) {
    if (StartsWith(text, "dwmark:")) return;
    const std::size_t equals = text.find('=');
    if (Contains(text, kParamJsonMarker)) {
      const std::string_view json = equals == std::string_view::npos ? text : Trim(text.substr(equals + 1));
      TJSONParam& param = params().AddNew();
      param.SetDirection(odIN);
      param.FromJSON(json);
      return;
    }
    const std::string_view name = text.substr(0, equals);
    const std::string_view value = equals == std::string_view::npos ? std::string_view{} : Trim(text.substr(equals + 1));
    TJSONParam& param = AddInput(name);
    if (value.empty()) {
      param.SetEncoded(false);
    } else {
      param.SetAsString(value);
    }
  }

  // The URL rule: path (group segment percent-decoded), "?", then "&"-separated
  // name=value pieces whose values are percent-decoded.
  void ReadByUrlRule(std::string_view text, bool keepEarlierGroup) {
    const std::size_t question = text.find('?');
    PathNames names = NamesOfPath(text.substr(0, question));
    std::string group = PercentDecode(names.group);
    if (!(keepEarlierGroup && group.empty())) out_.groupName = std::move(group);
    out_.eventName = std::move(names.event);
    if (question == std::string_view::npos) return;
    // The parameter "undefined" is looked up once, not once per piece: the
    // pieces stay linear in number.
    TJSONParam* undefined = nullptr;
    for (std::string_view piece : SplitAmpersand(text.substr(question + 1))) {
      if (StartsWith(piece, "dwmark:")) continue;
      const std::size_t equals = piece.find('=');
      if (equals == std::string_view::npos) {
        if (undefined == nullptr) {
          undefined = params().GetRecName(kUndefinedName);
          if (undefined == nullptr) undefined = &AddInput(kUndefinedName);
        }
        undefined->SetAsString(PercentDecode(piece));
      } else {
        AddInput(piece.substr(0, equals)).SetAsString(PercentDecode(piece.substr(equals + 1)));
      }
    }
  }

  // Step 4.
  void ReadByMethod() {
    switch (request_.requestType) {
      case RequestType::Get:
        if (!request_.query.empty()) ReadQueryReservedNames();
        return;
      case RequestType::Patch:
      case RequestType::Delete:
        return;
      case RequestType::Post:
      case RequestType::Put:
        break;
    }
    const std::optional<std::string> boundary = MultipartBoundary(request_.contentType);
    if (boundary && Contains(request_.body, "--")) {
      ReadMultipartBody(request_.body, *boundary);
    } else if (IsUrlEncodedForm(request_.contentType)) {
      std::string text = request_.path + "?";
      if (!request_.query.empty()) text += request_.query + "&";
      text += request_.body;
      ReadByUrlRule(text, true);
    } else if (!request_.body.empty()) {
      ReadRawBody();
    }
  }

  // GET with a query: the reserved names among the query parameters. They
  // stay in the list.
  void ReadQueryReservedNames() {
    if (const TJSONParam* p = params().GetRecName("dwwelcomemessage")) out_.welcomeMessage = DecodeText(p->GetAsString());
    if (const TJSONParam* p = params().GetRecName("dwaccesstag")) out_.accessTag = DecodeText(p->GetAsString());
    if (const TJSONParam* p = params().GetRecName("datacompression")) out_.flags.compression = IsTrueText(p->GetAsString());
    if (const TJSONParam* p = params().GetRecName("dwencodestrings")) out_.flags.encodeStrings = IsTrueText(p->GetAsString());
    if (const TJSONParam* p = params().GetRecName("dwusecript")) out_.flags.encryptedParams = IsTrueText(p->GetAsString());
    if (const TJSONParam* p = params().GetRecName("dwservereventname")) {
      out_.groupName = ValueHolderText(DecodeText(p->GetAsString()), false);
    }
  }

  // Step 5 of the body reading: a multipart form.
  void ReadMultipartBody(std::string_view body, std::string_view boundary) {
    const MultipartBody multipart = ReadMultipart(body, boundary);
    if (multipart.truncated) {
      std::string message = "Corpo multipart incompleto: ";
      message += multipart.truncatedName.empty()
                     ? std::string("uma parte não termina com o delimitador.")
                     : "a parte \"" + multipart.truncatedName + "\" não termina com o delimitador.";
      throw Error(message);
    }
    for (const MultipartPart& part : multipart.parts) {
      if (const auto reserved = FirstReservedIn(LowerAscii(part.headerText), PartTestOrder())) {
        ApplyReserved(*reserved, SanitizeUtf8(part.body), true);
      } else if (out_.flags.binary && EqualsIgnoreCase(part.name, "binarydata")) {
        LoadFromStream(params(), part.body, TDWParamExpType::tdwpxt_All);
        ReadReservedNamesOfBlock();
      } else if (part.fileName) {
        AddFilePart(part);
      } else {
        AddFieldPart(part);
      }
    }
  }

  // A form field: its body is read as the parameter's text. A body that is
  // no parameter text (plain "Alpha") has no members, so the parameter is
  // named by its field and keeps no value.
  void AddFieldPart(const MultipartPart& part) {
    const std::string text = SanitizeUtf8(part.body);
    TJSONParam& param = params().AddNew();
    param.SetDirection(odIN);
    param.FromJSON(text);
    if (!part.name.empty()) {
      param.SetParamName(LowerAscii(part.name));
    } else if (param.ParamName().empty()) {
      param.SetParamName(kUndefinedName);
    }
  }

  // An uploaded file: its bytes, unchanged, as a binary value.
  void AddFilePart(const MultipartPart& part) {
    TJSONParam& param = AddInput(part.name.empty() ? std::string(kUndefinedName) : LowerAscii(part.name));
    param.vParamFileName = *part.fileName;
    param.vParamContentType = part.contentType;
    param.SetValueType(TObjectValue::ovBlob);
    param.SetValue(EncodeBytes(part.body), true);
  }

  // The reserved names that arrived inside a binary parameter block.
  void ReadReservedNamesOfBlock() {
    for (ReservedName name : HeaderTestOrder()) {
      if (name == ReservedName::ConnectionDefs) continue;
      if (const TJSONParam* p = params().GetRecName(ReservedNameText(name))) {
        ApplyReserved(name, p->GetAsString(), true);
      }
    }
  }

  // Step 6 of the body reading: any other body.
  void ReadRawBody() {
    const std::string& body = request_.body;
    if (ParamTextIs("dwReadBodyRaw", "1")) {
      AddInput(NameFromParam("dwNameParamBody")).SetAsString(EightBitText(body));
    } else if (ParamTextIs("dwReadBodyBin", "1")) {
      TJSONParam& param = AddInput(NameFromParam("dwParamNameBody"));
      param.SetValueType(TObjectValue::ovBlob);
      param.SetValue(EncodeBytes(body), true);
      if (const TJSONParam* fileName = params().GetRecName("dwFileNameBody")) {
        const std::string name = fileName->GetAsString();
        AddInput("dwfilename").SetAsString(name);
        if (!params().GetRecName("Content-Type")) AddInput("Content-Type").SetAsString(ContentTypeOf(name));
      }
    } else if (out_.flags.binary) {
      std::optional<std::string> boundary = MultipartBoundary(request_.contentType);
      if (!boundary) boundary = BoundaryOfFirstLine(body);
      if (boundary) ReadMultipartBody(body, *boundary);
    } else if (queryEntryCount_ == 0) {
      AddInput(kUndefinedName).SetAsString(BodyText(body));
    } else {
      ReadNameValueBody(body);
    }
  }

  bool ParamTextIs(std::string_view name, std::string_view text) {
    const TJSONParam* param = params().GetRecName(name);
    return param && param->GetAsString() == text;
  }

  std::string NameFromParam(std::string_view name) {
    const TJSONParam* param = params().GetRecName(name);
    std::string value = param ? param->GetAsString() : std::string();
    return value.empty() ? std::string(kUndefinedName) : value;
  }

  // The body read one character per byte (the 8-bit code page).
  static std::string EightBitText(std::string_view body) { return AnsiToUtf8(body); }

  // The body as the last two raw-body rules read it.
  std::string BodyText(std::string_view body) const {
    if (settings_.encoding == TEncodeSelect::esUtf8) return SanitizeUtf8(body);
    return EightBitText(body);
  }

  static std::optional<std::string> BoundaryOfFirstLine(std::string_view body) {
    const std::size_t end = body.find_first_of("\r\n");
    const std::string_view line = body.substr(0, end);
    if (line.size() <= 2 || !StartsWith(line, "--")) return std::nullopt;
    return std::string(line.substr(2));
  }

  // Name-value text: several lines of name=value, or one line of
  // "&"-separated pieces; a text of several lines that begins with "[" or "{"
  // (byte-order mark and line breaks removed) is kept whole.
  void ReadNameValueBody(std::string_view rawBody) {
    const std::string text = BodyText(rawBody);
    const std::vector<std::string_view> lines = LinesOf(text);
    if (lines.size() > 1) {
      std::string_view withoutMark = rawBody;
      if (StartsWith(withoutMark, kUtf8ByteOrderMark)) withoutMark.remove_prefix(kUtf8ByteOrderMark.size());
      const std::string joined = BodyText(WithoutLineBreaks(withoutMark));
      if (StartsWith(joined, "[") || StartsWith(joined, "{")) {
        AddInput(kUndefinedName).SetAsString(joined);
        return;
      }
      for (std::string_view line : lines) {
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        AddInput(line.substr(0, equals)).SetAsString(line.substr(equals + 1));
      }
      return;
    }
    if (lines.empty() || !Contains(lines.front(), "=")) return;
    for (std::string_view piece : SplitAmpersand(lines.front())) {
      const std::string decoded = PercentDecode(piece, true);
      const std::size_t equals = decoded.find('=');
      if (equals == std::string::npos) {
        SetUndefinedValue(decoded);
      } else {
        AddInput(std::string_view(decoded).substr(0, equals)).SetAsString(std::string_view(decoded).substr(equals + 1));
      }
    }
  }

  // Step 7.
  void LateReads() {
    if (const TJSONParam* p = params().GetRecName("dwwelcomemessage")) out_.welcomeMessage = DecodeText(p->GetAsString());
    if (const TJSONParam* p = params().GetRecName("dwaccesstag")) out_.accessTag = DecodeText(p->GetAsString());
    if (const TJSONParam* p = params().GetRecName("dwassyncexec")) out_.flags.asynchronous = p->GetAsBoolean();
    if (const TJSONParam* p = params().GetRecName("dwusecript")) out_.flags.encryptedParams = p->GetAsBoolean();
    if (const TJSONParam* p = params().GetRecName("binaryRequest")) out_.flags.binary = p->GetAsBoolean();
  }

  const HttpRequest& request_;
  const IntakeSettings& settings_;
  IntakeOutcome out_;
  bool pathAndQueryRead_ = false;
  std::size_t queryEntryCount_ = 0;
};

}  // namespace

PathNames NamesOfPath(std::string_view path) {
  if (StartsWith(path, "/")) path.remove_prefix(1);
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  PathNames names;
  if (path.empty()) return names;
  const std::size_t lastSlash = path.rfind('/');
  if (lastSlash == std::string_view::npos) {
    names.event = std::string(path);
    return names;
  }
  names.event = std::string(path.substr(lastSlash + 1));
  const std::string_view before = path.substr(0, lastSlash);
  const std::size_t groupSlash = before.rfind('/');
  names.group = std::string(groupSlash == std::string_view::npos ? before : before.substr(groupSlash + 1));
  return names;
}

IntakeOutcome ReadRequestParams(const HttpRequest& request, const IntakeSettings& settings) {
  return Intake(request, settings).Run();
}

}  // namespace quelvar::service
