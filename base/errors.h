// Error types of the core. Every failure that reaches a user carries the
// message text that the user sees; callers catch by the base class.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lumora {

// Base of every error the core raises.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// Input/output failure (a file that cannot be opened, read or written).
// The window shows these as "File error: " + message during an element change.
class InOutError : public Error {
 public:
  explicit InOutError(const std::string& message, int code = 0) : Error(message), code_(code) {}
  int code() const { return code_; }

  // "Cannot open file "<path>": <system reason>" from an errno value.
  static InOutError FromErrno(const std::string& action, const std::string& path, int err);

 private:
  int code_;
};

// A text that is not a number where one is required.
class ConvertError : public Error {
 public:
  using Error::Error;
};

// A value of one input field refused: the message is the field's caption
// followed by the reason (" must be greater than 0, not \"-5\"."), kept
// apart so that a front end can name the field its own way (the command line
// by its option).
class FieldError : public Error {
 public:
  FieldError(std::string caption, std::string reason)
      : Error(caption + reason), caption_(std::move(caption)), reason_(std::move(reason)) {}
  const std::string& caption() const { return caption_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string caption_;
  std::string reason_;
};

// Run-time faults, raised explicitly where the arithmetic or an index would
// otherwise go wrong silently.
class RangeError : public Error {
 public:
  RangeError() : Error("Range check error") {}
};
class IntOverflowError : public Error {
 public:
  IntOverflowError() : Error("Integer overflow") {}
};
class InvalidOpError : public Error {
 public:
  InvalidOpError() : Error("Invalid floating point operation") {}
};
class ZeroDivideError : public Error {
 public:
  ZeroDivideError() : Error("Floating point division by zero") {}
};
class OverflowError : public Error {
 public:
  OverflowError() : Error("Floating point overflow") {}
};

// An offending token as an error message shows it: whole when short, else
// its first kQuotedTokenLength characters followed by "...", so that a huge
// token never floods a message. No quote marks are added.
inline constexpr size_t kQuotedTokenLength = 60;
std::string QuoteToken(std::string_view token);
// What a user is told of a failure: a failed allocation says that memory
// ran out for `what` (for example "the command \"map\"") rather than
// "std::bad_alloc"; any other failure its own message.
std::string UserMessage(const std::exception& e, const std::string& what);

}  // namespace lumora
