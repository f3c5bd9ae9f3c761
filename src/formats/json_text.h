#pragma once
// The lenient JSON reader every client text goes through.
//
// Differences from a strict RFC 8259 reader, all of them relied on by clients:
//  - object members keep their textual order, duplicates included, and are
//    reachable by position;
//  - the kind of a whole text is decided by its first character only ("{" object,
//    "[" array, anything else, leading blanks included, the empty object);
//  - comments ("#", "//" to end of line, "/* */"), single-quoted strings, "=" and
//    "=>" as key separators, ";" as member/element separator, one trailing
//    separator, absent array elements ("[1,,3]");
//  - bare tokens: true/false/null in any case, numbers with 0x hex and leading-0
//    octal, anything else a string.
// Syntax errors raise JsonSyntaxError whose message carries the position and an
// excerpt, ending "\n\r erro no caracter : <pos>".

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/errors.h"

namespace quelvar::json {

class JsonSyntaxError : public Error {
 public:
  using Error::Error;
};

enum class Kind { Absent, Null, Boolean, Integer, Float, String, Object, Array };

struct Member;

// One parsed value. Strings hold UTF-8 text (\u escapes combined from UTF-16
// code units; a lone surrogate becomes U+FFFD).
struct Value {
  Kind kind = Kind::Absent;
  bool boolean = false;
  std::int64_t integer = 0;
  bool wideInteger = false;  // read as a 64-bit integer (token of over 9 characters)
  double number = 0.0;
  std::string string;
  std::vector<Member> members;   // Object
  std::vector<Value> elements;   // Array; Kind::Absent for a left-out element

  // The value as text: string content; integer decimal; float in the general
  // 15-significant-digit form with "." as decimal mark; "true"/"false"; "null";
  // an object or array written back as compact JSON. Absent gives "null".
  std::string asText() const;
  bool isNullish() const { return kind == Kind::Null || kind == Kind::Absent; }
};

struct Member {
  std::string key;  // the key's text
  Value value;
};

// Parses one value (used by Wrapper). `text` must start with "{" or "[".
Value Parse(std::string_view text);

// A parsed text seen as one object or one array, with access by position.
class Wrapper {
 public:
  Wrapper() = default;  // holds nothing
  // "{..." parses as an object, "[..." as an array, anything else is the empty
  // object. Raises JsonSyntaxError on malformed input.
  static Wrapper Of(std::string_view text);

  bool holdsNothing() const { return !value_; }
  bool isArray() const { return value_ && value_->kind == Kind::Array; }
  bool isObject() const { return value_ && value_->kind == Kind::Object; }
  // Members of an object, elements of an array, 0 for nothing.
  std::size_t count() const;

  struct Pair {
    std::string name;   // key; empty for array elements and out-of-range positions
    std::string value;  // value as text; a value text of exactly "null" is ""
    Kind kind = Kind::Absent;
  };
  Pair member(std::size_t n) const;
  // The raw value at position n (member value or element), nullptr when out of range.
  const Value* valueAt(std::size_t n) const;

  // The array value of the first member whose key matches `key` ignoring ASCII
  // case. Raises Error("Null key") for an empty key, and
  // Error("TJSONObject[\"key\"] is not a TJSONArray.") when there is no such
  // member or its value is not an array.
  Wrapper arrayUnder(std::string_view key) const;
  // Element n of an array; absent, null, out-of-range or non-array gives nothing.
  Wrapper element(std::size_t n) const;

  const Value* value() const { return value_.get(); }

 private:
  explicit Wrapper(std::shared_ptr<const Value> root, const Value* v)
      : root_(std::move(root)), value_(root_, v) {}
  std::shared_ptr<const Value> root_;
  std::shared_ptr<const Value> value_;  // aliases into root_
};

}  // namespace quelvar::json
