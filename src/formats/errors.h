#pragma once
// Error types that carry failures inside a request. Their message is the exact
// text that reaches the operator log or the client.

#include <stdexcept>
#include <string>

namespace quelvar {

// Any failure with a message meant for the operator or the client.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text that does not read as the number or date it should be.
class ConversionError : public Error {
 public:
  using Error::Error;
};

// "'<text>' is not a valid integer value"
[[noreturn]] void ThrowNotInteger(const std::string& text);
// "'<text>' is not a valid floating point value"
[[noreturn]] void ThrowNotFloat(const std::string& text);

}  // namespace quelvar
