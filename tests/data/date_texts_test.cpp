// Stored and display texts of dates and times.
#include "data/date_texts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

namespace quelvar {
namespace {

// Millisecond precision is what the stored forms keep.
void ExpectSameInstant(std::optional<TDateTime> actual, TDateTime expected, const std::string& where) {
  ASSERT_TRUE(actual.has_value()) << where;
  EXPECT_LT(std::fabs(*actual - expected), 0.5 / 86400000.0) << where;
}

TEST(StoredDateTexts, WritesTheThreeFormsAndReadsThemBack) {
  struct Case {
    TDateTime value;
    std::string dateText;
    std::string dateTimeText;
  } cases[] = {
      {EncodeDate(2023, 12, 31), "2023-12-31", "2023-12-31"},
      {EncodeDate(2024, 2, 29), "2024-02-29", "2024-02-29"},
      {EncodeDateTime(2023, 12, 31, 8, 5, 3, 42), "2023-12-31", "2023-12-31 08:05:03.042"},
      {EncodeDateTime(2024, 1, 15, 23, 59, 59, 999), "2024-01-15", "2024-01-15 23:59:59.999"},
      {EncodeDateTime(2024, 1, 15, 0, 0, 0, 1), "2024-01-15", "2024-01-15 00:00:00.001"},
      {0.5, "1899-12-30", "12:00:00.000"},  // date part zero: the time alone
      {EncodeDateTime(1899, 12, 30, 8, 30, 15, 250), "1899-12-30", "08:30:15.250"},
      {0.0, "1899-12-30", "1899-12-30"},  // no time of day: the date form comes first
      {EncodeDateTime(1850, 6, 1, 6, 0, 0), "1850-06-01", "1850-06-01 06:00:00.000"},
      {EncodeDate(1, 1, 1), "0001-01-01", "0001-01-01"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StoredDateText(c.value), c.dateText) << c.value;
    EXPECT_EQ(StoredDateTimeText(c.value), c.dateTimeText) << c.value;
    ExpectSameInstant(ParseStoredDateTime(c.dateTimeText), c.value, c.dateTimeText);
  }
}

TEST(StoredDateTexts, ReadsLenientVariantsOfTheStoredForms) {
  struct Case {
    std::string text;
    TDateTime value;
  } cases[] = {
      {"2023-12-31 08:00:00", EncodeDateTime(2023, 12, 31, 8, 0, 0)},
      {"2023-12-31T08:00:00", EncodeDateTime(2023, 12, 31, 8, 0, 0)},
      {"2023-12-31 08:00", EncodeDateTime(2023, 12, 31, 8, 0, 0)},
      {"2023-12-31 08:00:00.5", EncodeDateTime(2023, 12, 31, 8, 0, 0, 500)},
      {"2023-12-31 08:00:00.123456", EncodeDateTime(2023, 12, 31, 8, 0, 0, 123)},
      {"08:30", EncodeDateTime(1899, 12, 30, 8, 30, 0)},
      {"8:30:01", EncodeDateTime(1899, 12, 30, 8, 30, 1)},
  };
  for (const auto& c : cases) ExpectSameInstant(ParseStoredDateTime(c.text), c.value, c.text);
}

TEST(StoredDateTexts, RejectsWhatIsNotAStoredDate) {
  const char* texts[] = {"",           "abc",         "2023-02-30",          "2023-13-01", "2023-00-10",
                         "2023-1-01",  "23-12-31",    "2023-12-31x",         "2023-12-31 ", "24:00:00",
                         "12:60",      "12:30:61",    "2023-12-31 25:00:00", "31/12/2023", "2023-12-31 08:00:00.",
                         "2023/12/31", "12:30:00Z"};
  for (const char* text : texts) EXPECT_FALSE(ParseStoredDateTime(text).has_value()) << text;
}

TEST(DisplayDateTexts, ReadsTheServerDisplayForm) {
  struct Case {
    std::string text;
    TDateTime value;
  } cases[] = {
      {"31/12/2023", EncodeDate(2023, 12, 31)},
      {" 1/2/2024 ", EncodeDate(2024, 2, 1)},
      {"31/12/2023 08:05:03", EncodeDateTime(2023, 12, 31, 8, 5, 3)},
      {"31/12/2023 08:05", EncodeDateTime(2023, 12, 31, 8, 5, 0)},
      {"08:05", EncodeDateTime(1899, 12, 30, 8, 5, 0)},
  };
  for (const auto& c : cases) ExpectSameInstant(ParseDisplayDateTime(c.text), c.value, c.text);

  const char* rejected[] = {"", "2023-12-31", "31/12/23", "29/02/2023", "31/12/2023 8", "31-12-2023", "x"};
  for (const char* text : rejected) EXPECT_FALSE(ParseDisplayDateTime(text).has_value()) << text;
}

}  // namespace
}  // namespace quelvar
