#include "formats/wire_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "formats/errors.h"
#include "formats/text_codec.h"

namespace quelvar {

namespace {

// FormatFloat with `mark` as the decimal mark, into `out` (at least 32 bytes);
// returns the length.
std::size_t FormatFloatTo(char* out, double value, char mark) {
  auto put = [out](std::size_t at, std::string_view text) {
    std::memcpy(out + at, text.data(), text.size());
    return at + text.size();
  };
  if (std::isnan(value)) return put(0, "NAN");
  if (std::isinf(value)) return put(0, value < 0 ? "-INF" : "INF");
  if (value == 0) return put(0, "0");
  // d.dddddddddddddde±x: the value rounded to 15 significant digits.
  char buf[64];
  const auto written = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  std::string_view s(buf, static_cast<std::size_t>(written.ptr - buf));
  const bool negative = s.front() == '-';
  if (negative) s.remove_prefix(1);
  const auto epos = s.find('e');
  char digitBuf[16];
  std::size_t digitCount = 0;
  digitBuf[digitCount++] = s[0];
  for (std::size_t k = 2; k < epos; ++k) digitBuf[digitCount++] = s[k];
  int exponent = 0;
  std::from_chars(s.data() + epos + (s[epos + 1] == '+' ? 2 : 1), s.data() + s.size(), exponent);
  while (digitCount > 1 && digitBuf[digitCount - 1] == '0') --digitCount;
  const std::string_view digits(digitBuf, digitCount);

  std::size_t n = 0;
  if (negative) out[n++] = '-';
  if (exponent >= 15 || exponent < -5) {
    out[n++] = digits[0];
    if (digits.size() > 1) {
      out[n++] = mark;
      n = put(n, digits.substr(1));
    }
    out[n++] = 'E';
    n = static_cast<std::size_t>(std::to_chars(out + n, out + n + 8, exponent).ptr - out);
  } else if (exponent < 0) {
    out[n++] = '0';
    out[n++] = mark;
    for (int k = 0; k < -exponent - 1; ++k) out[n++] = '0';
    n = put(n, digits);
  } else {
    const auto intDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
      n = put(n, digits);
      for (std::size_t k = digits.size(); k < intDigits; ++k) out[n++] = '0';
    } else {
      n = put(n, digits.substr(0, intDigits));
      out[n++] = mark;
      n = put(n, digits.substr(intDigits));
    }
  }
  return n;
}

}  // namespace

std::string FormatFloat(double value) {
  char buf[32];
  return std::string(buf, FormatFloatTo(buf, value, kDecimalSeparator));
}

void AppendFloatWire(std::string& out, double value) {
  char buf[32];
  out.append(buf, FormatFloatTo(buf, value, 'D'));
}

std::string FloatToWire(std::string_view localText) {
  std::string out(localText);
  for (char& c : out)
    if (c == kDecimalSeparator) c = 'D';
  return out;
}

std::string FloatFromWire(std::string_view wireText) {
  std::string out(wireText);
  for (char& c : out)
    if (c == 'D') c = kDecimalSeparator;
  return out;
}

namespace {

// Rough power of ten of a well-formed "[-]digits[.digits][e[+-]digits]" text:
// positive for texts too large for a double, negative for those too small.
long DecimalMagnitude(std::string_view s) {
  if (!s.empty() && s.front() == '-') s.remove_prefix(1);
  const auto e = s.find('e');
  long exponent = 0;
  if (e != std::string_view::npos) {
    std::string_view digits = s.substr(e + 1);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
    for (char c : digits) exponent = std::min(exponent * 10 + (c - '0'), 100000L);
    if (negative) exponent = -exponent;
    s = s.substr(0, e);
  }
  const auto dot = s.find('.');
  const std::string_view whole = s.substr(0, dot);
  const auto firstNonZero = whole.find_first_not_of('0');
  if (firstNonZero != std::string_view::npos) return exponent + static_cast<long>(whole.size() - firstNonZero);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  const auto lead = fraction.find_first_not_of('0');
  return exponent - static_cast<long>(lead == std::string_view::npos ? fraction.size() : lead);
}

}  // namespace

double ParseFloat(std::string_view text) {
  const std::string original(text);
  std::string_view s = Trim(text);
  // sign? digits* ("," digits*)? ([eE] sign? digits+)?  with at least one mantissa digit
  std::string normal;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') normal += '-';
    ++i;
  }
  std::size_t mantissaDigits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') normal += s[i++], ++mantissaDigits;
  if (i < s.size() && s[i] == kDecimalSeparator) {
    normal += '.';
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') normal += s[i++], ++mantissaDigits;
  }
  if (mantissaDigits == 0) ThrowNotFloat(original);
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    normal += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
    std::size_t expDigits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') normal += s[i++], ++expDigits;
    if (expDigits == 0) ThrowNotFloat(original);
  }
  if (i != s.size()) ThrowNotFloat(original);
  double value = 0;
  const char* first = normal.data();
  if (*first == '-') ++first;  // from_chars takes no "+", and we keep the sign apart
  auto [ptr, ec] = std::from_chars(first, normal.data() + normal.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is not a number this server can hold.
    if (DecimalMagnitude(normal) > 0) ThrowNotFloat(original);
    value = 0;
  } else if (ec != std::errc() || ptr != normal.data() + normal.size()) {
    ThrowNotFloat(original);
  }
  return normal[0] == '-' ? -value : value;
}

std::int64_t DateTimeToWire(TDateTime value) {
  const double seconds = std::nearbyint(value * 86400.0);  // default rounding: halves to even
  if (!(seconds >= -9.2e18 && seconds <= 9.2e18)) return 0;
  return static_cast<std::int64_t>(seconds);
}

TDateTime DateTimeFromWire(std::int64_t seconds) { return static_cast<double>(seconds) / 86400.0; }

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr std::int64_t kEpochOffsetDays = 25569;  // 1970-01-01 as a day count from 1899-12-30

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                             kEpochOffsetDays);
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  const double time = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + ms) / 86400000.0;
  const double date = EncodeDate(year, month, day);
  // Before the epoch day the fraction counts forward from the date, as the sign of the whole is negative.
  return date >= 0 ? date + time : date - time;
}

DateParts DecodeDateTime(TDateTime value) {
  DateParts p{};
  if (!std::isfinite(value) || std::fabs(value) > 3e6) value = 0;
  double whole = std::trunc(value);
  auto ms = static_cast<std::int64_t>(std::llround(std::fabs(value - whole) * 86400000.0));
  if (ms >= 86400000) {
    ms -= 86400000;
    whole += value < 0 ? -1 : 1;
  }
  CivilFromDays(static_cast<std::int64_t>(whole) - kEpochOffsetDays, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.ms = static_cast<int>(ms % 1000);
  return p;
}

namespace {

template <typename Int>
Int ParseInteger(std::string_view text) {
  const std::string original(text);
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) ThrowNotInteger(original);
  std::uint64_t magnitude = 0;
  const char* first = text.data() + i;
  const char* last = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(first, last, magnitude, base);
  if (ec != std::errc() || ptr != last) ThrowNotInteger(original);
  using Limits = std::numeric_limits<Int>;
  const auto maxPositive = static_cast<std::uint64_t>(Limits::max());
  if (negative) {
    if (magnitude > maxPositive + 1) ThrowNotInteger(original);
    return magnitude == maxPositive + 1 ? Limits::min() : static_cast<Int>(-static_cast<Int>(magnitude));
  }
  if (magnitude > maxPositive) ThrowNotInteger(original);
  return static_cast<Int>(magnitude);
}

}  // namespace

std::int32_t ParseInt32(std::string_view text) { return ParseInteger<std::int32_t>(text); }
std::int64_t ParseInt64(std::string_view text) { return ParseInteger<std::int64_t>(text); }

}  // namespace quelvar
