#include "formats/json_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>

#include "formats/json_string.h"

namespace quelvar::json {

namespace {

// Deepest nesting of objects and arrays a text may have. Texts come from the
// network; the limit keeps the recursive reader far from the end of the stack.
constexpr int kMaxDepth = 512;

// Characters shown after the position in a syntax error message.
constexpr std::size_t kExcerptChars = 10;

// ---------------------------------------------------------------------------
// Character helpers. Texts are UTF-8; positions in messages count characters
// (code points), so a byte that continues a multi-byte sequence is not one.

bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// Byte offset just past `count` characters from `from`, or nullopt when the
// text ends before that many characters.
std::optional<std::size_t> AdvanceChars(std::string_view text, std::size_t from,
                                        std::size_t count) {
  std::size_t at = from;
  for (std::size_t i = 0; i < count; ++i) {
    if (at >= text.size()) return std::nullopt;
    ++at;
    while (at < text.size() && IsContinuationByte(static_cast<unsigned char>(text[at]))) ++at;
  }
  return at;
}

// 1-based character position of the byte at `offset` (size()+1 style at the end).
std::size_t CharPosition(std::string_view text, std::size_t offset) {
  std::size_t position = 1;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (!IsContinuationByte(static_cast<unsigned char>(text[i]))) ++position;
  }
  return position;
}

std::string Excerpt(std::string_view text, std::size_t offset) {
  if (offset >= text.size()) return {};
  std::size_t end = AdvanceChars(text, offset, kExcerptChars).value_or(text.size());
  return std::string(text.substr(offset, end - offset));
}

std::string SyntaxMessage(std::string_view what, std::string_view text, std::size_t offset) {
  std::string position = std::to_string(CharPosition(text, offset));
  std::string message(what);
  message += " at character " + position + " of ";
  message += text;
  message += " next to : " + Excerpt(text, offset);
  message += "\n\r erro no caracter : " + position;
  return message;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Collects string content, turning UTF-16 code units from \u escapes into
// UTF-8: a high surrogate directly followed by a low one makes one character,
// any surrogate left alone becomes U+FFFD.
class StringBuilder {
 public:
  void appendByte(char c) {
    flushPending();
    out_ += c;
  }
  void appendUnit(char16_t unit) {
    if (pendingHigh_ != 0) {
      if (IsLow(unit)) {
        char32_t cp = 0x10000 + ((char32_t(pendingHigh_) - 0xD800) << 10) + (unit - 0xDC00);
        pendingHigh_ = 0;
        AppendUtf8(out_, cp);
        return;
      }
      flushPending();
    }
    if (IsHigh(unit)) {
      pendingHigh_ = unit;
    } else {
      AppendUtf8(out_, IsLow(unit) ? kReplacement : char32_t(unit));
    }
  }
  std::string take() {
    flushPending();
    return std::move(out_);
  }

 private:
  static constexpr char32_t kReplacement = 0xFFFD;
  static bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
  static bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
  void flushPending() {
    if (pendingHigh_ != 0) AppendUtf8(out_, kReplacement);
    pendingHigh_ = 0;
  }
  std::string out_;
  char16_t pendingHigh_ = 0;
};

// ---------------------------------------------------------------------------
// Bare tokens: keywords and numbers.

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// Unsigned digits in `base`; nullopt when empty, not all digits, or above `limit`.
std::optional<std::uint64_t> ReadDigits(std::string_view digits, int base, std::uint64_t limit) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    int d = DigitValue(c);
    if (d >= base) return std::nullopt;
    if (value > (limit - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) {
      return std::nullopt;
    }
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
  }
  return value;
}

constexpr std::uint64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

std::optional<std::int64_t> ReadUnsignedRadix(std::string_view digits, int base) {
  auto value = ReadDigits(digits, base, kInt64Max);
  if (!value) return std::nullopt;
  return static_cast<std::int64_t>(*value);
}

std::optional<std::int64_t> ReadSignedDecimal(std::string_view token) {
  bool negative = false;
  if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
    negative = token[0] == '-';
    token.remove_prefix(1);
  }
  auto value = ReadDigits(token, 10, negative ? kInt64Max + 1 : kInt64Max);
  if (!value) return std::nullopt;
  if (!negative) return static_cast<std::int64_t>(*value);
  if (*value == kInt64Max + 1) return std::numeric_limits<std::int64_t>::min();
  return -static_cast<std::int64_t>(*value);
}

// Optional sign, digits with at most one ".", at least one digit, optional
// exponent. Rejects hexadecimal floats, infinities and NaN.
bool LooksLikeFloat(std::string_view s) {
  std::size_t i = 0;
  auto digitsAt = [&s](std::size_t& at) {
    std::size_t start = at;
    while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
    return at - start;
  };
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t mantissaDigits = digitsAt(i);
  if (i < s.size() && s[i] == '.') {
    ++i;
    mantissaDigits += digitsAt(i);
  }
  if (mantissaDigits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (digitsAt(i) == 0) return false;
  }
  return i == s.size();
}

// A float with "." as decimal mark; nullopt when the text is no float or lies
// outside the range of a double.
std::optional<double> ReadFloat(std::string_view token) {
  if (!LooksLikeFloat(token)) return std::nullopt;
  if (token[0] == '+') token.remove_prefix(1);
  double value = 0.0;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (ec != std::errc() || end != token.data() + token.size()) return std::nullopt;
  return value;
}

// The integer a number token's form suggests: 0x hexadecimal, leading-0
// octal, or signed decimal. Tokens with a "." suggest no integer.
std::optional<std::int64_t> ReadSuggestedInteger(std::string_view token) {
  if (token.size() >= 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
    return ReadUnsignedRadix(token.substr(2), 16);
  }
  if (token.find('.') != std::string_view::npos) return std::nullopt;
  if (token[0] == '0') return ReadUnsignedRadix(token, 8);
  return ReadSignedDecimal(token);
}

bool StartsLikeNumber(char c) { return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'; }

Value TokenToValue(std::string_view token) {
  Value value;
  if (EqualsIgnoreAsciiCase(token, "true") || EqualsIgnoreAsciiCase(token, "false")) {
    value.kind = Kind::Boolean;
    value.boolean = EqualsIgnoreAsciiCase(token, "true");
    return value;
  }
  if (EqualsIgnoreAsciiCase(token, "null")) {
    value.kind = Kind::Null;
    return value;
  }
  if (StartsLikeNumber(token[0])) {
    if (auto integer = ReadSuggestedInteger(token)) {
      value.kind = Kind::Integer;
      value.integer = *integer;
      value.wideInteger = token.size() > 9;
      return value;
    }
    if (auto number = ReadFloat(token)) {
      value.kind = Kind::Float;
      value.number = *number;
      return value;
    }
  }
  value.kind = Kind::String;
  value.string = std::string(token);
  return value;
}

// ---------------------------------------------------------------------------
// The reader. Every syntax error points at the next unread character: the
// character that broke the rule is left unread, so the message's position and
// excerpt start at the culprit (one past the end when the text ran out).

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Value parseDocument() {
    skipBlanks();
    if (atEnd() || (peek() != '{' && peek() != '[')) fail("A TJSONObject must begin with \"{\"");
    return parseValue();
  }

 private:
  bool atEnd() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }
  bool peekIs(char c) const { return !atEnd() && peek() == c; }

  [[noreturn]] void fail(std::string_view what) const {
    throw JsonSyntaxError(SyntaxMessage(what, text_, pos_));
  }

  void skipToLineEnd() {
    while (!atEnd() && peek() != '\n' && peek() != '\r') ++pos_;
  }

  // Skips characters 1 to 32 and comments; stops at the next significant
  // character or at the end.
  void skipBlanks() {
    while (!atEnd()) {
      unsigned char c = static_cast<unsigned char>(peek());
      if (c >= 1 && c <= 32) {
        ++pos_;
      } else if (c == '#' || text_.substr(pos_, 2) == "//") {
        skipToLineEnd();
      } else if (text_.substr(pos_, 2) == "/*") {
        std::size_t close = text_.find("*/", pos_ + 2);
        if (close == std::string_view::npos) {
          pos_ = text_.size();
          fail("Unclosed comment.");
        }
        pos_ = close + 2;
      } else {
        return;
      }
    }
  }

  Value parseValue() {
    skipBlanks();
    if (atEnd()) fail("Missing value.");
    switch (peek()) {
      case '"':
      case '\'':
        return stringValue();
      case '{':
        return parseObject();
      case '[':
        return parseArray();
      default:
        return bareValue();
    }
  }

  void enterContainer() {
    if (depth_ >= kMaxDepth) fail("Nesting too deep");
    ++depth_;
    ++pos_;  // the opening brace or bracket
  }

  Value parseObject() {
    enterContainer();
    Value object;
    object.kind = Kind::Object;
    for (;;) {
      skipBlanks();
      if (atEnd()) fail("A TJSONObject must end with \"}\"");
      if (peek() == '}') break;
      Member member;
      member.key = parseValue().asText();
      readKeySeparator();
      member.value = parseValue();
      object.members.push_back(std::move(member));
      skipBlanks();
      if (peekIs('}')) break;
      if (!peekIs(',') && !peekIs(';')) fail("Expected a \",\" or \"}\"");
      ++pos_;  // a "}" right after the separator ends the object at the loop head
    }
    ++pos_;
    --depth_;
    return object;
  }

  void readKeySeparator() {
    skipBlanks();
    if (peekIs(':')) {
      ++pos_;
    } else if (peekIs('=')) {
      ++pos_;
      if (peekIs('>')) ++pos_;
    } else {
      fail("Expected a \":\" after a key");
    }
  }

  bool atElementSeparator() const { return peekIs(',') || peekIs(';'); }

  Value parseArray() {
    enterContainer();
    Value array;
    array.kind = Kind::Array;
    skipBlanks();
    if (!peekIs(']')) {
      for (;;) {
        skipBlanks();
        array.elements.push_back(atElementSeparator() ? Value{} : parseValue());
        skipBlanks();
        if (peekIs(']')) break;
        if (!atElementSeparator()) fail("Expected a \",\" or \"]\"");
        ++pos_;
        skipBlanks();
        if (peekIs(']')) break;  // one trailing separator
      }
    }
    ++pos_;
    --depth_;
    return array;
  }

  Value stringValue() {
    Value value;
    value.kind = Kind::String;
    value.string = readString();
    return value;
  }

  std::string readString() {
    const char quote = peek();
    ++pos_;
    StringBuilder out;
    for (;;) {
      if (atEnd() || peek() == '\n' || peek() == '\r') fail("Unterminated string");
      char c = text_[pos_++];
      if (c == quote) return out.take();
      if (c != '\\') {
        out.appendByte(c);
        continue;
      }
      if (atEnd()) fail("Unterminated string");
      readEscape(out);
    }
  }

  // After a backslash.
  void readEscape(StringBuilder& out) {
    char c = text_[pos_++];
    switch (c) {
      case 'b': out.appendByte('\b'); break;
      case 'f': out.appendByte('\f'); break;
      case 'n': out.appendByte('\n'); break;
      case 'r': out.appendByte('\r'); break;
      case 't': out.appendByte('\t'); break;
      case 'u': out.appendUnit(readCodeUnit()); break;
      default: out.appendByte(c); break;  // "\x" gives "x"
    }
  }

  // The four characters after "\u" read as a hexadecimal UTF-16 code unit.
  char16_t readCodeUnit() {
    auto end = AdvanceChars(text_, pos_, 4);
    if (!end) fail("Substring bounds error");
    std::string_view digits = text_.substr(pos_, *end - pos_);
    auto unit = digits.size() == 4 ? ReadDigits(digits, 16, 0xFFFF) : std::nullopt;
    if (!unit) ThrowNotInteger("$" + std::string(digits));
    pos_ = *end;
    return static_cast<char16_t>(*unit);
  }

  static bool EndsToken(char c) {
    return static_cast<unsigned char>(c) < 32 || std::strchr(",:]}/\\\"[{;=#", c) != nullptr;
  }

  Value bareValue() {
    std::size_t start = pos_;
    while (!atEnd() && !EndsToken(peek())) ++pos_;
    std::string_view token = text_.substr(start, pos_ - start);
    while (!token.empty() && static_cast<unsigned char>(token.back()) <= ' ') token.remove_suffix(1);
    if (token.empty()) fail("Missing value.");
    return TokenToValue(token);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int depth_ = 0;
};

// ---------------------------------------------------------------------------
// Writing values back as text.

// General format with 15 significant digits: plain notation for zero and for
// magnitudes from 0.00001 up to 15 integer digits, "d.dddE[-]x" otherwise.
std::string FormatFloat(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0.0) return "0";

  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
  std::string_view scientific(buffer, static_cast<std::size_t>(result.ptr - buffer));
  std::size_t e = scientific.find('e');
  int exponent = std::stoi(std::string(scientific.substr(e + 1)));
  std::string text;
  bool negative = scientific[0] == '-';
  std::string digits;
  for (char c : scientific.substr(0, e)) {
    if (c >= '0' && c <= '9') digits += c;
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  if (negative) text += '-';
  if (exponent < -5 || exponent >= 15) {
    text += digits[0];
    if (digits.size() > 1) text += "." + digits.substr(1);
    text += "E" + std::to_string(exponent);
  } else if (exponent < 0) {
    text += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integerDigits) {
      text += digits + std::string(integerDigits - digits.size(), '0');
    } else {
      text += digits.substr(0, integerDigits) + "." + digits.substr(integerDigits);
    }
  }
  return text;
}

void WriteJson(std::string& out, const Value& value) {
  switch (value.kind) {
    case Kind::String:
      AppendJsonString(out, value.string);
      return;
    case Kind::Object: {
      out += '{';
      for (std::size_t i = 0; i < value.members.size(); ++i) {
        if (i > 0) out += ',';
        AppendJsonString(out, value.members[i].key);
        out += ':';
        WriteJson(out, value.members[i].value);
      }
      out += '}';
      return;
    }
    case Kind::Array: {
      out += '[';
      for (std::size_t i = 0; i < value.elements.size(); ++i) {
        if (i > 0) out += ',';
        WriteJson(out, value.elements[i]);
      }
      out += ']';
      return;
    }
    default:
      out += value.asText();
      return;
  }
}

}  // namespace

// ---------------------------------------------------------------------------

std::string Value::asText() const {
  switch (kind) {
    case Kind::Absent:
    case Kind::Null:
      return "null";
    case Kind::Boolean:
      return boolean ? "true" : "false";
    case Kind::Integer:
      return std::to_string(integer);
    case Kind::Float:
      return FormatFloat(number);
    case Kind::String:
      return string;
    case Kind::Object:
    case Kind::Array: {
      std::string out;
      WriteJson(out, *this);
      return out;
    }
  }
  return "null";
}

Value Parse(std::string_view text) { return Parser(text).parseDocument(); }

Wrapper Wrapper::Of(std::string_view text) {
  auto root = std::make_shared<Value>();
  if (!text.empty() && (text[0] == '{' || text[0] == '[')) {
    *root = Parse(text);
  } else {
    root->kind = Kind::Object;
  }
  const Value* top = root.get();
  return Wrapper(std::move(root), top);
}

std::size_t Wrapper::count() const {
  if (!value_) return 0;
  if (value_->kind == Kind::Object) return value_->members.size();
  if (value_->kind == Kind::Array) return value_->elements.size();
  return 0;
}

const Value* Wrapper::valueAt(std::size_t n) const {
  if (!value_) return nullptr;
  if (value_->kind == Kind::Object && n < value_->members.size()) return &value_->members[n].value;
  if (value_->kind == Kind::Array && n < value_->elements.size()) return &value_->elements[n];
  return nullptr;
}

Wrapper::Pair Wrapper::member(std::size_t n) const {
  Pair pair;
  const Value* value = valueAt(n);
  if (value == nullptr) return pair;
  if (value_->kind == Kind::Object) pair.name = value_->members[n].key;
  pair.value = value->asText();
  if (pair.value == "null") pair.value.clear();
  pair.kind = value->kind;
  return pair;
}

Wrapper Wrapper::arrayUnder(std::string_view key) const {
  if (key.empty()) throw Error("Null key");
  if (value_ && value_->kind == Kind::Object) {
    for (const Member& member : value_->members) {
      if (!EqualsIgnoreAsciiCase(member.key, key)) continue;
      if (member.value.kind == Kind::Array) return Wrapper(root_, &member.value);
      break;
    }
  }
  throw Error("TJSONObject[" + JsonString(key) + "] is not a TJSONArray.");
}

Wrapper Wrapper::element(std::size_t n) const {
  if (!isArray() || n >= value_->elements.size()) return Wrapper();
  const Value& element = value_->elements[n];
  if (element.isNullish()) return Wrapper();
  return Wrapper(root_, &element);
}

}  // namespace quelvar::json
