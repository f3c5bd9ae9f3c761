#include "data/date_texts.h"

#include <cstdio>

#include "formats/text_codec.h"

namespace quelvar {

namespace {

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

bool ValidDate(int y, int m, int d) {
  return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

bool ValidTime(int h, int n, int s) { return h >= 0 && h <= 23 && n >= 0 && n <= 59 && s >= 0 && s <= 59; }

// A left-to-right reader of fixed-layout texts.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }
  bool Peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
  bool Take(char c) {
    if (!Peek(c)) return false;
    ++pos_;
    return true;
  }
  // Between minDigits and maxDigits decimal digits.
  bool Number(int minDigits, int maxDigits, int& value) {
    value = 0;
    int count = 0;
    while (count < maxDigits && pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      value = value * 10 + (text_[pos_++] - '0');
      ++count;
    }
    return count >= minDigits;
  }
  // A fraction of a second after the point, 1 to 9 digits, in whole milliseconds.
  bool Milliseconds(int& ms) {
    ms = 0;
    int count = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      if (count < 3) ms = ms * 10 + (text_[pos_] - '0');
      ++pos_;
      ++count;
    }
    if (count == 0 || count > 9) return false;
    for (int i = count; i < 3; ++i) ms *= 10;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

struct Clock {
  int hour = 0, minute = 0, second = 0, ms = 0;
};

// "hh:nn[:ss[.fff]]"; `withFraction` allows the milliseconds.
bool ReadClock(Cursor& in, Clock& c, bool withFraction) {
  if (!in.Number(1, 2, c.hour) || !in.Take(':') || !in.Number(2, 2, c.minute)) return false;
  if (in.Take(':')) {
    if (!in.Number(2, 2, c.second)) return false;
    if (withFraction && in.Take('.') && !in.Milliseconds(c.ms)) return false;
  }
  return ValidTime(c.hour, c.minute, c.second);
}

TDateTime TimeOfDay(const Clock& c) { return EncodeDateTime(1899, 12, 30, c.hour, c.minute, c.second, c.ms); }

}  // namespace

std::string StoredDateText(TDateTime value) {
  const DateParts p = DecodeDateTime(value);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2d", p.year, p.month, p.day);
  return buf;
}

std::string StoredDateTimeText(TDateTime value) {
  const DateParts p = DecodeDateTime(value);
  char buf[64];
  if (p.hour == 0 && p.minute == 0 && p.second == 0 && p.ms == 0)
    std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2d", p.year, p.month, p.day);
  else if (p.year == 1899 && p.month == 12 && p.day == 30)
    std::snprintf(buf, sizeof buf, "%.2d:%.2d:%.2d.%.3d", p.hour, p.minute, p.second, p.ms);
  else
    std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second, p.ms);
  return buf;
}

std::optional<TDateTime> ParseStoredDateTime(std::string_view text) {
  // A time of day alone: "h:" or "hh:" at the start.
  if (text.size() >= 2 && (text[1] == ':' || (text.size() >= 3 && text[2] == ':'))) {
    Cursor in(text);
    Clock c;
    if (!ReadClock(in, c, true) || !in.AtEnd()) return std::nullopt;
    return TimeOfDay(c);
  }
  Cursor in(text);
  int y = 0, m = 0, d = 0;
  if (!in.Number(4, 4, y) || !in.Take('-') || !in.Number(2, 2, m) || !in.Take('-') || !in.Number(2, 2, d))
    return std::nullopt;
  if (!ValidDate(y, m, d)) return std::nullopt;
  if (in.AtEnd()) return EncodeDate(y, m, d);
  if (!in.Take(' ') && !in.Take('T')) return std::nullopt;
  Clock c;
  if (!ReadClock(in, c, true) || !in.AtEnd()) return std::nullopt;
  return EncodeDateTime(y, m, d, c.hour, c.minute, c.second, c.ms);
}

std::optional<TDateTime> ParseDisplayDateTime(std::string_view text) {
  text = Trim(text);
  if (text.find('/') == std::string_view::npos) {
    Cursor in(text);
    Clock c;
    if (!ReadClock(in, c, false) || !in.AtEnd()) return std::nullopt;
    return TimeOfDay(c);
  }
  Cursor in(text);
  int y = 0, m = 0, d = 0;
  if (!in.Number(1, 2, d) || !in.Take('/') || !in.Number(1, 2, m) || !in.Take('/') || !in.Number(4, 4, y))
    return std::nullopt;
  if (!ValidDate(y, m, d)) return std::nullopt;
  if (in.AtEnd()) return EncodeDate(y, m, d);
  if (!in.Take(' ')) return std::nullopt;
  while (in.Take(' ')) {
  }
  Clock c;
  if (!ReadClock(in, c, false) || !in.AtEnd()) return std::nullopt;
  return EncodeDateTime(y, m, d, c.hour, c.minute, c.second);
}

}  // namespace quelvar
